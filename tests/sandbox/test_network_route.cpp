#include <gtest/gtest.h>

#include "network.h"
#include "sandbox.h"

// Each test runs in a fresh sandbox process, so the live record starts empty.
namespace {

Network::Config refresh()
{
    Network::update_Default_IP_Info();
    return Network::get_Default_IP_Info();
}

TEST(DefaultRoute, RealKernelRouteViaGateway)
{
    ASSERT_EQ(0, run_Shell("ip addr add 192.168.1.10/24 dev eth0 && ip route add default via 192.168.1.1"));
    Network::Config live = refresh();
    EXPECT_EQ("192.168.1.10", live.ip4_address);
    EXPECT_EQ("255.255.255.0", live.ip4_subnetmask);
    EXPECT_EQ("192.168.1.1", live.ip4_gateway);
    EXPECT_EQ("eth0", live.target_interface);
    EXPECT_EQ("", live.dns1);
    EXPECT_EQ("", live.dns2);
    EXPECT_FALSE(live.ip4_dhcp);
    EXPECT_TRUE(Network::get_Default_IP_Info_Update_Flag());
    EXPECT_FALSE(Network::get_Default_IP_Info_Update_Flag());
}

TEST(DefaultRoute, IdenticalRefreshesChangeOnce)
{
    ASSERT_EQ(0, run_Shell("ip addr add 10.20.30.40/16 dev eth0 && ip route add default via 10.20.0.1"));
    refresh();
    refresh();
    EXPECT_TRUE(Network::get_Default_IP_Info_Update_Flag());
    refresh();
    EXPECT_FALSE(Network::get_Default_IP_Info_Update_Flag());
    EXPECT_EQ("255.255.0.0", Network::get_Default_IP_Info().ip4_subnetmask);
}

TEST(DefaultRoute, LinkRouteFirstGivesItsAddressAndNoGateway)
{
    // Only the subnet route of eth0: its gateway column is 00000000.
    ASSERT_EQ(0, run_Shell("ip addr add 172.16.5.9/20 dev eth0"));
    Network::Config live = refresh();
    EXPECT_EQ("172.16.5.9", live.ip4_address);
    EXPECT_EQ("255.255.240.0", live.ip4_subnetmask);
    EXPECT_EQ("0.0.0.0", live.ip4_gateway);
}

TEST(DefaultRoute, BridgeBeforeEth0IsNotTheHostsAddress)
{
    // A link route of a bridge stands first in the table; the default route comes later.
    ASSERT_EQ(0, run_Shell("ip link add br-test type bridge && ip link set br-test up && "
                           "ip addr add 172.17.0.1/16 dev br-test && ip addr add 192.168.1.10/24 dev eth0"));
    EXPECT_EQ("192.168.1.10", refresh().ip4_address);
    ASSERT_EQ(0, run_Shell("ip link set eth0 down"));
    EXPECT_EQ("0.0.0.0", refresh().ip4_address);
    ASSERT_EQ(0, run_Shell("ip link set eth0 up && ip route add default via 192.168.1.1"));
    EXPECT_EQ("192.168.1.1", refresh().ip4_gateway);
}

TEST(DefaultRoute, NoRouteGivesPlaceholdersOnce)
{
    Network::Config live = refresh();
    EXPECT_EQ("0.0.0.0", live.ip4_address);
    EXPECT_EQ("255.255.255.255", live.ip4_subnetmask);
    EXPECT_EQ("0.0.0.0", live.ip4_gateway);
    EXPECT_TRUE(Network::get_Default_IP_Info_Update_Flag());
    refresh();
    EXPECT_FALSE(Network::get_Default_IP_Info_Update_Flag());
}

TEST(DefaultRoute, RemovalAndChangeAreEachOneChange)
{
    ASSERT_EQ(0, run_Shell("ip addr add 192.168.1.10/24 dev eth0 && ip route add default via 192.168.1.1"));
    refresh();
    ASSERT_TRUE(Network::get_Default_IP_Info_Update_Flag());

    ASSERT_EQ(0, run_Shell("ip addr flush dev eth0"));
    Network::Config live = refresh();
    EXPECT_EQ("0.0.0.0", live.ip4_address);
    EXPECT_EQ("255.255.255.255", live.ip4_subnetmask);
    EXPECT_EQ("0.0.0.0", live.ip4_gateway);
    EXPECT_TRUE(Network::get_Default_IP_Info_Update_Flag());
    refresh();
    EXPECT_FALSE(Network::get_Default_IP_Info_Update_Flag());

    ASSERT_EQ(0, run_Shell("ip addr add 192.168.7.20/24 dev eth0 && ip route add default via 192.168.7.1"));
    live = refresh();
    EXPECT_EQ("192.168.7.20", live.ip4_address);
    EXPECT_EQ("192.168.7.1", live.ip4_gateway);
    EXPECT_TRUE(Network::get_Default_IP_Info_Update_Flag());
}

TEST(InterfaceMac, ReadsTheAddressTheKernelHolds)
{
    ASSERT_EQ(0, run_Shell("ip link set eth0 address 02:ab:cd:01:23:ef"));
    EXPECT_EQ("eth0", std::string(Network::get_Interface_Name()));
    EXPECT_EQ("02:AB:CD:01:23:EF", Network::get_Interface_MAC_Address());
    Network::set_Interface_Name("nosuch0");
    EXPECT_EQ("00:00:00:00:00:00", Network::get_Interface_MAC_Address());
    Network::set_Interface_Name("eth0");
}

} // namespace
