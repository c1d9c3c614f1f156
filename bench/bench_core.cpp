// Costs of the paths that run all the time: the transmit ring, packet
// building and serialising, the 2-second route-table scan's line parser,
// and the monitor's framer.
#include <benchmark/benchmark.h>

#include <pthread.h>

#include <string>
#include <vector>

#include "BMC_data_protocol.h"
#include "bmc_frame.h"
#include "network.h"
#include "queue.h"

namespace {

void enqueue_Dequeue(benchmark::State& state)
{
    Queue<BMC::Packet*> queue;
    queue.init(200);
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    queue.set_Lock_Control_Handler(set_Mutex_Lock, &mutex);
    BMC::Packet packet;
    BMC::Packet* out = nullptr;
    for (auto _ : state) {
        queue.Enqueue(&packet);
        queue.Dequeue(&out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(enqueue_Dequeue);

void build_And_Serialise(benchmark::State& state)
{
    const char cpu[] = "Ampere(R) Altra(R) Processor";
    uint8_t wire[256];
    for (auto _ : state) {
        BMC::Packet packet;
        BMC::init_Packet(&packet, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false,
                         BMC::ADDRESS::DESCRIPTION, BMC::SUBADDRESS_DESCRIPTION_CPU_PRUDCUT_NAME,
                         BMC::DATA_TYPE::STRING, cpu, sizeof(cpu));
        benchmark::DoNotOptimize(BMC::get_Packet_Wire_Bytes(packet, wire, sizeof(wire)));
    }
}
BENCHMARK(build_And_Serialise);

void route_Line(benchmark::State& state)
{
    const std::string table = "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
                              "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    std::string name, gateway;
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_Report_Route(table, "eth0", &name, &gateway));
        benchmark::DoNotOptimize(get_Route_Address_Text(gateway));
    }
}
BENCHMARK(route_Line);

void frame_Host_Report(benchmark::State& state)
{
    std::vector<uint8_t> stream;
    for (int i = 0; i < 7; ++i)
        stream.insert(stream.end(), {0x0D, 0x00, 0x35, 0x00, 0x13, 0x40, 0, 0, 0, 0, 0, 0, 0});
    for (auto _ : state) {
        BMC_Frame_Reader reader;
        BMC_Frame_Reader::Event event;
        reader.set_Bytes(stream.data(), stream.size());
        while (reader.get_Next_Event(&event))
            benchmark::DoNotOptimize(event.bytes.data());
    }
}
BENCHMARK(frame_Host_Report);

} // namespace

BENCHMARK_MAIN();
