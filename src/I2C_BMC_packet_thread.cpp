#include "I2C_BMC_packet_thread.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <pthread.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "config.h"
#include "guards.h"
#include "log.h"
#include "monotonic_clock.h"
#include "network.h"
#include "queue.h"
#include "system_info.h"

namespace {

const char* const __log_tag = "I2C Packet";
const char* const i2c_node_path = "/dev/i2c-2";
const uint8_t i2c_bmc_slave_address = 8;
const unsigned int queue_size = 200;
const uint8_t packet_rx_timeout_value_sec = 3;
const useconds_t start_poll_usec = 10000;
const useconds_t before_write_usec = 200000;
const useconds_t after_pass_usec = 20000;
const char* const transmit_thread_name = "i2c-transmit";

Queue<BMC::Packet*> TX_queue;
Queue<BMC::Packet*> RX_queue;
pthread_mutex_t TX_queue_mutex;
// Signalled, under the transmit queue's mutex, when a packet is queued or a stop is asked.
pthread_cond_t TX_queue_condition;
pthread_mutex_t RX_queue_mutex;
pthread_cond_t RX_queue_condition;
pthread_t thread;

// Shared by the requesting thread and the transmit thread without a lock.
std::atomic<bool> thread_start_flag{false};
std::atomic<bool> thread_stop_request_flag{false};
// Raised while requests find the transmit queue full.
std::atomic<bool> transmit_drop_flag{false};
// Raised by the thread when it gives up before running (device not opened).
std::atomic<bool> thread_start_failed_flag{false};
// Raised by the main loop once before each report: the thread checks the bus node before its next write.
std::atomic<bool> bus_check_request_flag{false};
// Raised by the thread when the bus node was replaced and could not be opened again; it has then ended.
std::atomic<bool> bus_lost_flag{false};
// The thread's writes, for the service's status line and watchdog: counts, and
// when the write in progress began (0 while none is in progress).
std::atomic<unsigned long> packets_written{0};
std::atomic<unsigned long> packets_failed{0};
std::atomic<long long> write_started_ms{0};
// Raised before a packet leaves the queue and lowered once it is written: the status waits for both.
std::atomic<bool> packet_in_hand{false};

int (*BMC_Packet_Receive_Error_Handler)(BMC::Packet*, uint8_t) = nullptr;
void (*bus_lost_wake)() = nullptr;

// The settings the BMC stages one by one, in subaddress order.
struct Setting_Item {
    uint8_t subaddress;
    Network::CONFIG_TYPE type;
    const char* name;
};
constexpr Setting_Item setting_items[] = {
    {BMC::SUBADDRESS_NETWORK_CONFIG_MODE, Network::CONFIG_TYPE::MODE, "MODE"},
    {BMC::SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS, Network::CONFIG_TYPE::IP_ADDRESS, "IP_ADDRESS"},
    {BMC::SUBADDRESS_NETWORK_CONFIG_GATEWAY, Network::CONFIG_TYPE::GATEWAY, "GATEWAY"},
    {BMC::SUBADDRESS_NETWORK_CONFIG_SUBNETMASK, Network::CONFIG_TYPE::SUBNETMASK, "SUBNETMASK"},
    {BMC::SUBADDRESS_NETWORK_CONFIG_DNS1, Network::CONFIG_TYPE::DNS1, "DNS1"},
    {BMC::SUBADDRESS_NETWORK_CONFIG_DNS2, Network::CONFIG_TYPE::DNS2, "DNS2"},
};
constexpr size_t setting_item_count = sizeof(setting_items) / sizeof(setting_items[0]);

// A row's place is its subaddress, and the BMC's number is the setting's own.
constexpr bool get_Setting_Items_Agree()
{
    for (size_t i = 0; i < setting_item_count; ++i)
        if (setting_items[i].subaddress != i || static_cast<uint8_t>(setting_items[i].type) != i)
            return false;
    return setting_item_count == BMC::SUBADDRESS_NETWORK_CONFIG_APPLY;
}
static_assert(get_Setting_Items_Agree(), "settings subaddresses and setting numbers must agree");

uint8_t set_I2C_Packet_Write(int fd, uint8_t slave_address, const BMC::Packet& packet)
{
    // A bus device writes to the address last selected: without the BMC's, nothing is written.
    // A FIFO or file standing in for the bus has no address to select.
    struct stat node;
    if (fstat(fd, &node) == 0 && S_ISCHR(node.st_mode) && ioctl(fd, I2C_SLAVE, slave_address) < 0) {
        int saved_errno = errno;
        LOG_ERROR("packet not written: cannot select address %d on %s: %s", slave_address, i2c_node_path,
                  strerror(saved_errno));
        return 1;
    }
    uint8_t buffer[BMC::packet_header_length + BMC::max_packet_data_length];
    size_t length = BMC::get_Packet_Wire_Bytes(packet, buffer, sizeof(buffer));
    ssize_t ret = write(fd, buffer, length);
    if (ret < 1) {
        int saved_errno = errno;
        LOG_ERROR("packet write failed, %d, %s", static_cast<int>(ret), strerror(saved_errno));
        return 1;
    }
    LOG_DEBUG("Write Packet length: %d", packet.packet_length);
    return 0;
}

// True when the path no longer names the file the descriptor has open (an
// adapter unbound and bound again gets a new node).
bool get_Node_Replaced(int fd)
{
    struct stat open_node;
    struct stat path_node;
    if (fstat(fd, &open_node) != 0 || stat(i2c_node_path, &path_node) != 0)
        return true;
    return open_node.st_dev != path_node.st_dev || open_node.st_ino != path_node.st_ino ||
           open_node.st_rdev != path_node.st_rdev;
}

// Keeps the descriptor on the node the path names; false when a replaced node cannot be opened.
bool update_Bus_Node(Descriptor* bus)
{
    if (!get_Node_Replaced(bus->get()))
        return true;
    int reopened = open(i2c_node_path, O_RDWR | O_CLOEXEC);
    if (reopened < 0) {
        int saved_errno = errno;
        LOG_ERROR("%s was replaced and cannot be opened again: %s", i2c_node_path, strerror(saved_errno));
        return false;
    }
    bus->reset(reopened);
    LOG_INFO("%s was replaced: opened again", i2c_node_path);
    return true;
}

// Writes the next queued packet; false when the write failed.
bool send_Next_Packet(int fd)
{
    BMC::Packet* request = nullptr;
    packet_in_hand.store(true);
    if (TX_queue.Dequeue(&request) != 0 || request == nullptr) {
        packet_in_hand.store(false);
        return true;
    }
    BMC::Packet* response = new BMC::Packet();
    usleep(before_write_usec);
    write_started_ms.store(get_Monotonic_Ms());
    uint8_t error_flag = set_I2C_Packet_Write(fd, i2c_bmc_slave_address, *request);
    write_started_ms.store(0);
    (error_flag == 0 ? packets_written : packets_failed).fetch_add(1);
    if (error_flag != 0)
        BMC_Packet_Receive_Error_Handler(response, error_flag);
    if (BMC::get_Packet_Response_Require_Flag(*request)) {
        BMC::init_Packet(response, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::PING_RESPONSE, false,
                         BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, nullptr, 0);
        if (error_flag != 0)
            BMC_Packet_Receive_Error_Handler(response, error_flag);
        pthread_mutex_lock(&RX_queue_mutex);
        // A full response queue keeps the record with the thread, which frees it.
        if (RX_queue.Enqueue(response) == 0)
            response = nullptr;
        pthread_cond_signal(&RX_queue_condition);
        pthread_mutex_unlock(&RX_queue_mutex);
    }
    delete request;
    delete response;
    packet_in_hand.store(false);
    return error_flag == 0;
}

// An idle thread sleeps until there is something to send or a stop to make.
void wait_For_Work()
{
    pthread_mutex_lock(&TX_queue_mutex);
    while (TX_queue.get_Count() == 0 && !thread_stop_request_flag.load() && !bus_check_request_flag.load())
        pthread_cond_wait(&TX_queue_condition, &TX_queue_mutex);
    pthread_mutex_unlock(&TX_queue_mutex);
}

void wake_Thread()
{
    pthread_mutex_lock(&TX_queue_mutex);
    pthread_cond_signal(&TX_queue_condition);
    pthread_mutex_unlock(&TX_queue_mutex);
}

// Packets and responses nobody will take any more: the thread has stopped,
// and a later start empties both queues.
void release_Queued_Packets()
{
    BMC::Packet* packet = nullptr;
    while (TX_queue.Dequeue(&packet) == 0)
        delete packet;
    pthread_mutex_lock(&RX_queue_mutex);
    while (RX_queue.Dequeue(&packet) == 0)
        delete packet;
    pthread_mutex_unlock(&RX_queue_mutex);
}

void* I2C_BMC_Packet_Thread(void*)
{
    // Close-on-exec: the shell commands the daemon runs must not hold the bus.
    Descriptor bus(open(i2c_node_path, O_RDWR | O_CLOEXEC));
    if (bus.get() < 0) {
        LOG_ERROR("open() error");
        thread_start_failed_flag.store(true);
        return reinterpret_cast<void*>(1);
    }
    pthread_mutex_init(&TX_queue_mutex, nullptr);
    pthread_cond_init(&TX_queue_condition, nullptr);
    pthread_mutex_init(&RX_queue_mutex, nullptr);
    pthread_cond_init(&RX_queue_condition, nullptr);
    TX_queue.init(queue_size);
    RX_queue.init(queue_size);
    TX_queue.set_Lock_Control_Handler(set_Mutex_Lock, &TX_queue_mutex);
    thread_start_flag.store(true);
    LOG_DEBUG("thread start");

    for (;;) {
        if (thread_stop_request_flag.load()) {
            thread_stop_request_flag.store(false);
            thread_start_flag.store(false);
            release_Queued_Packets();
            LOG_DEBUG("thread stop");
            return nullptr;
        }
        bool check = bus_check_request_flag.exchange(false);
        if (check && !update_Bus_Node(&bus))
            break;
        if (TX_queue.get_Count() == 0) {
            wait_For_Work();
            continue;
        }
        if (!send_Next_Packet(bus.get()) && !update_Bus_Node(&bus))
            break;
        usleep(after_pass_usec);
    }
    // The bus is gone: the main loop ends the daemon, so that the service manager starts it again.
    bus_lost_flag.store(true);
    thread_start_flag.store(false);
    release_Queued_Packets();
    if (bus_lost_wake != nullptr)
        bus_lost_wake();
    return reinterpret_cast<void*>(1);
}

// Taken when nothing answered in time: an ERROR record from the request's node.
BMC::Packet* make_Timeout_Record(const BMC::Packet& request)
{
    BMC::Packet* record = new BMC::Packet();
    BMC::init_Packet(record, BMC::get_Packet_Node_ID(request), false, BMC::PACKET_TYPE::ERROR, false,
                     BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, nullptr, 0);
    return record;
}

} // namespace

int init_I2C_BMC_Packet_Thread(int (*)(const BMC::Packet&),
                               int (*packet_receive_error_handler)(BMC::Packet*, uint8_t))
{
    if (packet_receive_error_handler == nullptr)
        return 1;
    if (thread_start_flag.load())
        return 0;
    thread_start_flag.store(false);
    thread_start_failed_flag.store(false);
    BMC_Packet_Receive_Error_Handler = packet_receive_error_handler;
    thread_stop_request_flag.store(false);
    if (pthread_create(&thread, nullptr, I2C_BMC_Packet_Thread, nullptr) != 0)
        return 3;
    // Named, so that "top -H" and /proc tell it from the main thread.
    pthread_setname_np(thread, transmit_thread_name);
    while (!thread_start_flag.load()) {
        if (thread_start_failed_flag.load()) {
            pthread_join(thread, nullptr);
            return 2;
        }
        usleep(start_poll_usec);
    }
    return 0;
}

void set_I2C_BMC_Bus_Check()
{
    bus_check_request_flag.store(true);
    if (thread_start_flag.load())
        wake_Thread();
}

void set_I2C_BMC_Bus_Lost_Wake(void (*wake)())
{
    bus_lost_wake = wake;
}

bool get_I2C_BMC_Bus_Lost()
{
    return bus_lost_flag.load();
}

void set_I2C_BMC_Packet_Thread_Stop()
{
    if (bus_lost_flag.exchange(false)) {
        pthread_join(thread, nullptr);
        return;
    }
    if (!thread_start_flag.load())
        return;
    thread_stop_request_flag.store(true);
    wake_Thread();
    pthread_join(thread, nullptr);
}

bool get_I2C_BMC_Packet_Thread_Start_Flag()
{
    return thread_start_flag.load();
}

uint8_t set_I2C_BMC_Packet_Request(const BMC::Packet& request, BMC::Packet* response)
{
    if (!thread_start_flag.load())
        return 1;
    if (response == nullptr)
        return 2;
    BMC::Packet* copy = new BMC::Packet();
    BMC::init_Packet(copy, request);
    if (TX_queue.Enqueue(copy) != 0) {
        delete copy;
        // One line for each run of drops, not one per packet.
        if (!transmit_drop_flag.exchange(true))
            LOG_ERROR("transmit queue full: packets are dropped");
        return 3;
    }
    transmit_drop_flag.store(false);
    wake_Thread();
    if (!BMC::get_Packet_Response_Require_Flag(request))
        return 0;

    struct timeval now;
    gettimeofday(&now, nullptr);
    struct timespec deadline;
    deadline.tv_sec = now.tv_sec + packet_rx_timeout_value_sec;
    deadline.tv_nsec = 0;

    pthread_mutex_lock(&RX_queue_mutex);
    int status = 0;
    while (RX_queue.get_Count() == 0 && status != ETIMEDOUT)
        status = pthread_cond_timedwait(&RX_queue_condition, &RX_queue_mutex, &deadline);
    BMC::Packet* record = nullptr;
    if (status != ETIMEDOUT)
        RX_queue.Dequeue(&record);
    if (record == nullptr)
        record = make_Timeout_Record(request);
    BMC::init_Packet(response, *record);
    delete record;
    pthread_mutex_unlock(&RX_queue_mutex);
    return 0;
}

Transmit_Health get_I2C_BMC_Transmit_Health(long long stall_ms)
{
    Transmit_Health health;
    health.written = packets_written.load();
    health.failed = packets_failed.load();
    long long started = write_started_ms.load();
    health.stalled = started != 0 && get_Monotonic_Ms() - started > stall_ms;
    health.idle = !packet_in_hand.load() && TX_queue.get_Count() == 0;
    return health;
}

// What is wrong with a packet's header for a settings item: "" for what the BMC sends (a WRITE from node
// BMC to address NETWORK, not broadcast, a byte for the mode and the apply, a text for the rest).
static std::string get_Settings_Header_Fault(const BMC::Packet& packet)
{
    uint8_t subaddress = BMC::get_Packet_Subaddress(packet);
    bool byte_item = subaddress == BMC::SUBADDRESS_NETWORK_CONFIG_MODE ||
                     subaddress == BMC::SUBADDRESS_NETWORK_CONFIG_APPLY;
    BMC::DATA_TYPE wanted = byte_item ? BMC::DATA_TYPE::UINT8 : BMC::DATA_TYPE::STRING;
    if (BMC::get_Packet_Type(packet) != BMC::PACKET_TYPE::WRITE)
        return "packet type " + std::to_string(static_cast<int>(BMC::get_Packet_Type(packet))) +
               ", not WRITE";
    if (BMC::get_Packet_Node_ID(packet) != BMC::NODE_ID::BMC)
        return "node " + std::to_string(static_cast<int>(BMC::get_Packet_Node_ID(packet))) + ", not BMC";
    if (BMC::get_Packet_Broadcast(packet))
        return "a broadcast";
    if (BMC::get_Packet_Address(packet) != BMC::ADDRESS::NETWORK)
        return "address " + std::to_string(static_cast<int>(BMC::get_Packet_Address(packet))) +
               ", not NETWORK";
    if (subaddress <= BMC::SUBADDRESS_NETWORK_CONFIG_HOSTNAME && BMC::get_Packet_Data_Type(packet) != wanted)
        return "data type " + std::to_string(static_cast<int>(BMC::get_Packet_Data_Type(packet))) + ", not " +
               (byte_item ? "UINT8" : "STRING");
    return "";
}

uint8_t I2C_BMC_Packet_Hander(BMC::Packet* packet)
{
    if (packet == nullptr)
        return 2;
    uint8_t subaddress = BMC::get_Packet_Subaddress(*packet);
    // Only the BMC's own settings writes reach a setting: any other packet would stage or rename blindly.
    std::string fault = get_Settings_Header_Fault(*packet);
    if (!fault.empty()) {
        LOG_ERROR("refused a packet for subaddress %d: %s", subaddress, fault.c_str());
        return 2;
    }
    size_t length = BMC::get_Packet_Data_Length(*packet);
    // Every item needs its data; a header-only packet hands nothing on.
    if (length == 0 || packet->data == nullptr) {
        LOG_DEBUG("subaddress %d without data ignored ", subaddress);
        return 2;
    }
    const char* data = reinterpret_cast<const char*>(packet->data);
    int first_byte = packet->data[0];
    std::string text(data, strnlen(data, length));
    // What the BMC sent may hold line breaks or escape sequences.
    std::string shown = get_Log_Text(text);
    if (subaddress < setting_item_count) {
        const Setting_Item& item = setting_items[subaddress];
        // The mode travels as a number and is logged as one.
        if (item.type == Network::CONFIG_TYPE::MODE) {
            char mode[2] = {static_cast<char>(first_byte), '\0'};
            LOG_DEBUG("%s=%d ", item.name, first_byte);
            return Network::set_Config(item.type, mode);
        }
        LOG_DEBUG("%s=%s ", item.name, shown.c_str());
        return Network::set_Config(item.type, text.c_str());
    }
    switch (subaddress) {
    case BMC::SUBADDRESS_NETWORK_CONFIG_APPLY:
        LOG_DEBUG("APPLY=%d ", first_byte);
        return Network::set_Config_Apply() ? 0 : 1;
    case BMC::SUBADDRESS_NETWORK_CONFIG_HOSTNAME: {
        LOG_DEBUG("HOSTNAME=%s ", shown.c_str());
        std::vector<char> hostname(text.begin(), text.end());
        hostname.push_back('\0');
        return set_Config_Hostname(hostname.data()) ? 0 : 1;
    }
    default:
        LOG_DEBUG("default=%s ", shown.c_str());
        return 2;
    }
}
