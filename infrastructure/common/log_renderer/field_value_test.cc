// Field paths of event description templates.
#include "infrastructure/common/log_renderer/field_value.h"

#include <gtest/gtest.h>

#include "proto/events.pb.h"
#include "proto/log.pb.h"

namespace kyv::infra::log {
namespace {

TEST(GetFieldValueTest, PathRules) {
  SeHmEventPoolDetails pool;
  pool.set_pool("Pool-A");
  SeHmEventServerDetails* server = pool.mutable_server();
  server->set_hostname("web-1");
  server->mutable_ip()->set_addr("10.0.0.5");
  server->set_port(-8080);
  server->add_shm()->set_health_monitor("hm-http");

  SeResourceUsageDetails usage;
  usage.set_cpu_pct(93.26);
  usage.set_dropped_pkts(18446744073709551615ull);
  usage.add_interfaces("eth0");
  usage.add_interfaces("eth1");

  VinfraDiscSummaryDetails summary;
  summary.set_num_dcs(-3);

  DNSRegisterInfo dns;
  dns.mutable_fip()->set_addr("192.0.2.7");
  dns.add_dns_info()->set_ttl(4000000000u);

  EventLog event;
  event.set_event_id(DOS_ATTACK);
  event.set_is_security_event(true);

  const SeResourceUsageDetails no_interfaces;

  struct Case {
    const google::protobuf::Message* message;
    const char* path;
    const char* value;
  } cases[] = {
      {&pool, "pb.pool", "Pool-A"},
      {&pool, "pool", "Pool-A"},  // no variable: nothing to drop
      {&pool, "pb.server.hostname", "web-1"},
      {&pool, "pb.pool.lower()", "pool-a"},
      {&pool, "pb.server.port", "-8080"},
      // Four components: the nested call drops "ip", so `addr` is looked for in `server`.
      {&pool, "pb.server.ip.addr", ""},
      {&dns, "pb.fip.ignored.addr", "192.0.2.7"},
      {&dns, "pb.dns_info[0].x.ttl", "4000000000"},
      {&pool, "[x.health_monitor for x in pb.server.shm]", ""},
      {&pool, "pb.server", ""},          // a message is no value
      {&pool, "pb.server.lower()", ""},  // "lower" of a message
      {&pool, "pb.missing", ""},
      {&pool, "pb.missing.hostname", ""},
      {&pool, "pb.pool.hostname", ""},  // a string is no message
      {&pool, "pb.", ""},
      {&usage, "pb.cpu_pct", "93.260000"},
      {&usage, "pb.dropped_pkts", "18446744073709551615"},
      {&usage, "pb.dropped_pkts.lower()", ""},
      {&usage, "pb.interfaces[0]", "eth0"},
      {&usage, "pb.interfaces[1]", "eth0"},  // any index reads element 0
      {&usage, "pb.interfaces", "eth0"},
      {&no_interfaces, "pb.interfaces[0]", ""},
      {&no_interfaces, "pb.se_name", ""},
      {&no_interfaces, "pb.cpu_pct", "0.000000"},
      {&summary, "pb.num_dcs", "-3"},
      {&event, "pb.event_id", "DOS_ATTACK"},
      {&event, "pb.is_security_event", ""},  // bools have no text
      {&event, "pb.event_details.dos_attack_event_details", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(get_field_value(c.message, c.path), c.value) << c.path;
  }
  EXPECT_EQ(get_field_value(nullptr, "pb.pool"), "");
}

TEST(GetRepeatedValueTest, ReturnsEveryValueInOrder) {
  ConnectionLog log;
  for (uint32_t ip : {3u, 1u, 2u}) log.add_dns_ips(ip);
  const auto* field = log.GetDescriptor()->FindFieldByName("dns_ips");
  EXPECT_EQ(get_repeated_value<uint32_t>(field, log.GetReflection(), log),
            (std::vector<uint32_t>{3, 1, 2}));
}

}  // namespace
}  // namespace kyv::infra::log
