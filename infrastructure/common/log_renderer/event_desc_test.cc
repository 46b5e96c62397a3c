// Event descriptions: templates of the event schema and the built-in formatters.
#include <gtest/gtest.h>

#include "infrastructure/common/log_renderer/event_desc_func.h"
#include "infrastructure/common/log_renderer/event_desc_template.h"
#include "proto/event_id.pb.h"
#include "proto/events.pb.h"

namespace kyv::infra::log {
namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

constexpr char kErrorLine[] = "[Error] when proceesing event_desc: ";

TEST(ProcessEventDescStrTest, Templates) {
  SeResourceUsageDetails se;
  se.set_se_name("se-1");
  se.set_cpu_pct(93.26);
  se.set_disk_usage(" 87.46");
  se.set_dropped_pkts(12);
  se.add_interfaces("eth0");
  PoolStateDetails pool;
  pool.set_pool("p1");

  struct Case {
    const google::protobuf::Message* details;
    const char* tmpl;
    const char* text;
  } cases[] = {
      {&pool, "'Pool %s is down' % (pb.pool)", "Pool p1 is down"},
      {&pool, "'Pool %s is up' % pb.pool", "Pool p1 is up"},
      {&pool, "'%s'%(pb.pool)", "p1"},
      {&pool, "'Pool is fine'", "'Pool is fine'"},  // no conversion: unchanged, quotes too
      {&pool, "'Pool (%s) of %s' % ( pb.pool ,pb.reason )", "Pool (p1) of "},
      {&se, "'CPU of %s at %.1f' % (pb.se_name, pb.cpu_pct)", "CPU of se-1 at 93.3"},
      {&se, "'Disk at %.1f' % (pb.disk_usage)", "Disk at 87.5"},  // numeric text
      {&se, "'SE %s dropped %.1d packets on %s' % (pb.se_name, pb.dropped_pkts, pb.interfaces[0])",
       "SE se-1 dropped 12 packets on eth0"},
      {&se, "'%d of %s' % (pb.dropped_pkts, pb.se_name, pb.cpu_pct)", "12 of se-1"},  // extra arg
  };
  for (const Case& c : cases) {
    CaptureStdout();
    EXPECT_EQ(process_event_desc_str(c.details, c.tmpl), c.text) << c.tmpl;
    EXPECT_EQ(GetCapturedStdout(), "") << c.tmpl;
  }
}

TEST(ProcessEventDescStrTest, TemplatesThatCannotBeAppliedGiveTheReason) {
  SeResourceUsageDetails se;
  se.set_se_name("se-1");
  se.set_disk_usage("n/a");
  struct Case {
    const char* tmpl;
    const char* reason;  // "" for the formatting library's own text
  } cases[] = {
      {"'Disk at %.1f' % (pb.disk_usage)", "\"n/a\" is not a number for {:.1f}"},
      {"'Disk at %.1f' % (pb.missing)", "\"\" is not a number for {:.1f}"},
      {"'%s and %s' % (pb.se_name)", ""},  // too few arguments
      {"'{x} %s' % (pb.se_name)", ""},     // a brace of the text
      {"'Disk %s", "no quoted format"},
      {"Disk %s", "no quoted format"},
      {"'Disk %s'", "no arguments after the format"},
      {"'Disk %s' % (pb.se_name", "argument list without \")\""},
  };
  for (const Case& c : cases) {
    CaptureStdout();
    const std::string text = process_event_desc_str(&se, c.tmpl);
    const std::string out = GetCapturedStdout();
    EXPECT_FALSE(text.empty()) << c.tmpl;
    if (*c.reason != '\0') {
      EXPECT_EQ(text, c.reason) << c.tmpl;
    }
    EXPECT_EQ(out, kErrorLine + text + "\n") << c.tmpl;
  }
}

EventLog Event(EventId id) {
  EventLog event;
  event.set_event_id(id);
  return event;
}

SeHmEventServerDetails* Server(SeHmEventServerDetails* server, std::vector<const char*> monitors) {
  server->set_hostname("web-1");
  server->mutable_ip()->set_addr("10.0.0.5");
  server->set_port(80);
  for (const char* m : monitors) server->add_shm()->set_health_monitor(m);
  return server;
}

TEST(EventDescriptionStringTest, BuiltInFormatters) {
  std::vector<std::pair<EventLog, std::string>> cases;
  auto add = [&](EventLog event, std::string text) { cases.emplace_back(std::move(event), text); };

  EventLog e = Event(DOS_ATTACK);
  DosAttackEventDetails* dos = e.mutable_event_details()->mutable_dos_attack_event_details();
  dos->set_attack(DOS_SYN_FLOOD);
  dos->set_attack_count(3);
  dos->add_src_ips("10.0.0.1");
  dos->add_src_ips("10.0.0.2");
  add(e, "3.0 DOS_SYN_FLOOD attacksfrom_ip(s) 10.0.0.1,...");
  dos->clear_src_ips();
  dos->add_urls("/login");
  dos->set_attack_count(2.25);
  add(e, "2.2 DOS_SYN_FLOOD attackson URL(s) /login");

  e = Event(POOL_SERVER_WENT_DOWN);
  SeHmEventPoolDetails* pool = e.mutable_event_details()->mutable_pool_server_down_details();
  pool->set_pool("p1");
  Server(pool->mutable_server(), {});
  add(e, "Server web-1 (10.0.0.5:80) in Pool p1 is DOWN due to health monitor [] failure");
  pool->mutable_server()->add_shm()->set_health_monitor("a");
  pool->mutable_server()->add_shm()->set_health_monitor("b");
  add(e, "Server web-1 (10.0.0.5:80) in Pool p1 is DOWN due to health monitor [a, b, ] failure");

  e = Event(POOL_SERVER_DOWN_HA_COMPROMISED);
  Server(e.mutable_event_details()->mutable_pool_server_down_details()->mutable_server(), {"a"});
  add(e,
      "Server web-1 (10.0.0.5:80) down due to health monitor [a, ] failure by at least one "
      "but not all Service Engines");

  e = Event(SE_SERVER_WENT_DOWN);
  Server(e.mutable_event_details()->mutable_se_server_down_details()->mutable_server(), {"a"});
  add(e, "Server web-1 (10.0.0.5:80) is DOWN due to health monitor [a, ] failure");

  e = Event(VIP_DNS_REGISTER_SUCCESS);
  DNSRegisterInfo* dns = e.mutable_event_details()->mutable_dns_register_info();
  dns->mutable_vip()->set_addr("10.0.0.9");
  dns->mutable_fip()->set_addr("203.0.113.9");
  dns->add_dns_info()->set_fqdn("a.example.com");
  dns->add_dns_info()->set_fqdn("b.example.com");
  add(e, "VIP 203.0.113.9 registered to a.example.com,b.example.com");
  for (auto [id, text] : {std::pair{VIP_DNS_REGISTER_FAILURE, "VIP 10.0.0.9 register failed for "},
                          {VIP_DNS_DEREGISTER_SUCCESS, "VIP 10.0.0.9 de-registered from "},
                          {VIP_DNS_DEREGISTER_FAILURE, "VIP 10.0.0.9 de-registered failed for "}}) {
    e = Event(id);
    e.mutable_event_details()->mutable_dns_register_info()->mutable_vip()->set_addr("10.0.0.9");
    add(e, text);
  }

  e = Event(METRIC_THRESHOLD_UP_VIOLATION);
  MetricThresholdUpDetails* metric =
      e.mutable_event_details()->mutable_metric_threshold_up_details();
  metric->set_metric_name("l4_client.avg_bandwidth");
  metric->set_current_value(95.5);
  metric->set_threshold(90);
  metric->set_server("srv-1");
  add(e, "l4_client.avg_bandwidth value 95.5 hit threshold 90 on srv-1");
  e = Event(SYSTEM_METRIC_THRESHOLD_UP_VIOLATION);
  SystemMetricThresholdDetails* sys =
      e.mutable_event_details()->mutable_system_metric_threshold_details();
  sys->set_metric_name("controller.cpu");
  sys->set_current_value(0.1);
  sys->set_threshold(1e21);
  add(e, "controller.cpu value 0.1 hit threshold 1e+21");

  for (auto [status, text] : {std::pair{"Success", "Scheduler Action Succeeded"},
                              {"success", "Scheduler Action Failed"},
                              {"", "Scheduler Action Failed"}}) {
    e = Event(SCHEDULER_ACTION_SUCCESS);
    e.mutable_event_details()->mutable_scheduler_action_details()->set_status(status);
    add(e, text);
  }

  e = Event(AUDIT_COMPLIANCE_EVENT);
  AuditComplianceEventInfo* audit =
      e.mutable_event_details()->mutable_generic_audit_compliance_event_info();
  audit->set_type(AUDIT_INVALID_CREDENTIALS);
  add(e, "Audit compliance event of type AUDIT_INVALID_CREDENTIALS for users ");
  for (const char* user : {"alice", "bob"}) {
    ACUserIdentity* id = audit->add_user_identities();
    id->set_type("user");
    id->set_value(user);
  }
  add(e,
      "Audit compliance event of type AUDIT_INVALID_CREDENTIALS for users type: \"user\"\n"
      "value: \"alice\"\n,type: \"user\"\nvalue: \"bob\"\n");

  for (const auto& [event, text] : cases) {
    EXPECT_EQ(event_description_string(event), text) << event.ShortDebugString();
  }
}

TEST(EventDescriptionStringTest, TemplatesOfTheEventSchema) {
  std::vector<std::pair<EventLog, std::string>> cases;
  EventLog e = Event(POOL_DOWN);
  e.mutable_event_details()->mutable_pool_state_details()->set_pool("p1");
  cases.emplace_back(e, "Pool p1 is down");
  e.set_event_id(POOL_UP);
  cases.emplace_back(e, "Pool p1 is up");

  e = Event(POOL_SERVER_HM_FAILED);
  SeHmEventPoolDetails* pool = e.mutable_event_details()->mutable_pool_server_down_details();
  pool->set_pool("Pool-A");
  Server(pool->mutable_server(), {"hm"});
  cases.emplace_back(e, "Server web-1 of pool pool-a failed its health monitors ");

  e = Event(SE_HIGH_CPU);
  SeResourceUsageDetails* se = e.mutable_event_details()->mutable_se_resource_usage_details();
  se->set_se_name("se-1");
  se->set_cpu_pct(93.26);
  se->set_disk_usage("87.46");
  se->set_dropped_pkts(7);
  se->add_interfaces("eth1");
  cases.emplace_back(e, "CPU usage of SE se-1 is 93.3 percent");
  e.set_event_id(SE_HIGH_DISK_USAGE);
  cases.emplace_back(e, "Disk usage of SE se-1 is 87.5 percent");
  e.set_event_id(SE_PACKETS_DROPPED);
  cases.emplace_back(e, "SE se-1 dropped 7 packets on eth1");

  e = Event(CONTROLLER_LEADER_CHANGED);
  e.mutable_event_details()->mutable_controller_leader_change_details()->set_leader("node-2");
  cases.emplace_back(e, "'Controller cluster has a new leader'");

  e = Event(ESX_HOST_UNREACHABLE);
  VinfraCntlrHostUnreachableList* hosts =
      e.mutable_event_details()->mutable_cntlr_host_list_details();
  hosts->set_vcenter("vc-1");
  hosts->add_host_name("esx-1");
  hosts->add_host_name("esx-2");
  cases.emplace_back(e, "Hosts of vCenter vc-1 unreachable from the controller, first esx-1");

  e = Event(VINFRA_DISC_COMPLETE);
  VinfraDiscSummaryDetails* sum = e.mutable_event_details()->mutable_disc_summary();
  sum->set_vcenter("vc-1");
  sum->set_num_dcs(1);
  sum->set_num_hosts(2);
  cases.emplace_back(e,
                     "Discovery of vCenter vc-1 complete: 1 datacenter(s), 2 host(s), 0 "
                     "cluster(s), 0 virtual machine(s), 0 network(s)");

  for (const auto& [event, text] : cases) {
    CaptureStdout();
    EXPECT_EQ(event_description_string(event), text) << event.ShortDebugString();
    EXPECT_EQ(GetCapturedStdout(), "");
  }

  // A text where the template wants a number: the reason is the description, and a line says so.
  e = Event(SE_HIGH_DISK_USAGE);
  e.mutable_event_details()->mutable_se_resource_usage_details()->set_disk_usage("n/a");
  CaptureStdout();
  EXPECT_EQ(event_description_string(e), "\"n/a\" is not a number for {:.1f}");
  EXPECT_EQ(GetCapturedStdout(), std::string(kErrorLine) + "\"n/a\" is not a number for {:.1f}\n");
}

TEST(EventDescriptionStringTest, DetailFieldsAreTriedInFieldNumberOrder) {
  // Neither option: nothing, whatever the details.
  EventLog e = Event(CONFIG_CREATE);
  e.mutable_event_details()->mutable_pool_state_details()->set_pool("p1");
  EXPECT_EQ(event_description_string(e), "");

  // A formatter that does not take the first detail message leaves it to the next one.
  e = Event(VIP_DNS_REGISTER_SUCCESS);
  e.mutable_event_details()->mutable_disc_summary()->set_vcenter("vc");  // field 101
  EXPECT_EQ(event_description_string(e), "");
  e.mutable_event_details()->mutable_dns_register_info()->mutable_vip()->set_addr("10.0.0.9");
  EXPECT_EQ(event_description_string(e), "VIP 10.0.0.9 registered to ");
  e.set_event_id(SE_SERVER_WENT_DOWN);  // "server" of a detail message must be server details
  EXPECT_EQ(event_description_string(e), "");
  e.set_event_id(DOS_ATTACK);
  EXPECT_EQ(event_description_string(e), "");

  // A template yields text for any detail message, so the first set field decides.
  e = Event(POOL_DOWN);
  e.mutable_event_details()->mutable_pool_state_details()->set_pool("p1");  // field 408
  e.mutable_event_details()->mutable_disc_summary()->set_vcenter("vc");     // field 101
  EXPECT_EQ(event_description_string(e), "Pool  is down");
}

TEST(RunEventDescFuncTest, UnknownNamesLeaveTheResult) {
  SchedulerActionDetails details;
  details.set_status("Success");
  std::string result = "kept";
  for (const char* name : {"kyv.util.event_formatters.nope", "scheduler_event_desc_func",
                           "other.module.scheduler_event_desc_func", ""}) {
    run_event_desc_func(name, details, &result);
    EXPECT_EQ(result, "kept") << name;
  }
  run_event_desc_func("kyv.util.event_formatters.scheduler_event_desc_func", details, &result);
  EXPECT_EQ(result, "Scheduler Action Succeeded");
}

}  // namespace
}  // namespace kyv::infra::log
