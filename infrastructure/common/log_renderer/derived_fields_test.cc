// Derived fields of application, connection and event logs.
#include "infrastructure/common/log_renderer/derived_fields.h"

#include <gtest/gtest.h>

#include <optional>

#include "infrastructure/common/log_renderer/filter_texts.h"

namespace kyv::infra::log {
namespace {

TEST(ParseIpAddrTest, FirstOctetFromTheTopByte) {
  std::string text = "stale";
  for (auto [ip, expected] : {std::pair{0u, "0.0.0.0"},
                              {0x0A000001u, "10.0.0.1"},
                              {0xC0A80102u, "192.168.1.2"},
                              {0xFFFFFFFFu, "255.255.255.255"}}) {
    parse_ip_addr(ip, &text);
    EXPECT_EQ(text, expected);
  }
}

TEST(SetResponseTimesTest, SplitsAndWafLatencies) {
  constexpr uint64_t kMax = ~0ull;
  struct Case {
    const char* name;
    uint64_t first, last, total;
    uint32_t server_rtt, client_rtt;
    std::optional<std::array<uint64_t, 4>> waf;
    std::optional<uint64_t> app, transfer, total_out;
  } cases[] = {
      {"plain", 100, 250, 0, 30, 5, {}, 70, 150, 255},
      {"server rtt above first byte", 100, 250, 0, 150, 0, {}, 0, 150, 250},
      {"server rtt equal to first byte", 100, 250, 0, 100, 0, {}, 0, 150, 250},
      {"waf 1500 takes 1 ms", 100, 250, 0, 0, 0, {{1000, 200, 200, 100}}, 100, 149, 250},
      {"waf 1501 takes 2 ms", 100, 250, 0, 0, 0, {{1000, 200, 200, 101}}, 100, 148, 250},
      {"waf 499 takes nothing", 100, 250, 0, 0, 0, {{499, 0, 0, 0}}, 100, 150, 250},
      {"waf above the transfer time", 100, 250, 0, 0, 0, {{200000, 0, 0, 0}}, 100, 0, 250},
      {"waf sum beyond 64 bits", 100, 250, 0, 0, 0, {{kMax, kMax, kMax, kMax}}, 100, 0, 250},
      {"total time kept", 100, 250, 999, 0, 7, {}, 100, 150, 999},
      {"first byte after last byte", 300, 250, 0, 0, 0, {}, 300, 0, 250},
      {"no first byte", 0, 250, 0, 10, 0, {}, std::nullopt, 250, 250},
      {"no last byte", 100, 0, 0, 10, 0, {{5000, 0, 0, 0}}, 90, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ApplicationLog log;
    log.set_server_response_time_first_byte(c.first);
    log.set_response_time_last_byte(c.last);
    log.set_total_time(c.total);
    log.set_server_rtt(c.server_rtt);
    log.set_client_rtt(c.client_rtt);
    if (c.waf) {
      WafLog* waf = log.mutable_waf_log();
      waf->set_latency_request_header_phase((*c.waf)[0]);
      waf->set_latency_request_body_phase((*c.waf)[1]);
      waf->set_latency_response_header_phase((*c.waf)[2]);
      waf->set_latency_response_body_phase((*c.waf)[3]);
    }
    SetResponseTimes(&log);
    EXPECT_EQ(log.has_app_response_time(), c.app.has_value());
    EXPECT_EQ(log.app_response_time(), c.app.value_or(0));
    EXPECT_EQ(log.has_data_transfer_time(), c.transfer.has_value());
    EXPECT_EQ(log.data_transfer_time(), c.transfer.value_or(0));
    EXPECT_EQ(log.total_time(), c.total_out.value_or(c.total));
  }
}

TEST(SetClientCiphersTest, KnownSuitesByValueOthersAsHex) {
  struct Case {
    std::string bytes;
    std::vector<int> identified;
    std::vector<std::string> unidentified;
  } cases[] = {
      {std::string("\x13\x01\xab\xcd\x00\x2f", 6), {4865, 47}, {"abcd"}},
      {std::string("\xc0\x2f\x0a", 3), {49199}, {}},  // an odd last byte is ignored
      {std::string("\x0a\x0a\x00\x05", 4), {5}, {"a0a"}},
      {std::string("\x01", 1), {}, {}},
  };
  for (const Case& c : cases) {
    ApplicationLog log;
    log.set_cipher_bytes(c.bytes);
    SetClientCiphers(&log);
    EXPECT_FALSE(log.has_cipher_bytes());
    EXPECT_EQ(log.has_client_cipher_list(), !c.identified.empty() || !c.unidentified.empty());
    EXPECT_EQ(std::vector<int>(log.client_cipher_list().identified_ciphers().begin(),
                               log.client_cipher_list().identified_ciphers().end()),
              c.identified);
    EXPECT_EQ(std::vector<std::string>(log.client_cipher_list().unidentified_ciphers().begin(),
                                       log.client_cipher_list().unidentified_ciphers().end()),
              c.unidentified);
  }
  ApplicationLog empty;
  empty.set_cipher_bytes("");
  SetClientCiphers(&empty);
  EXPECT_TRUE(empty.has_cipher_bytes());
  EXPECT_FALSE(empty.has_client_cipher_list());
}

TEST(SetGrpcReasonTest, OnlyStatusesZeroToSixteen) {
  for (auto [status, reason] : {std::pair{0, std::optional(GRPC_STATUS_CODE_OK)},
                                {16, std::optional(GRPC_STATUS_CODE_UNAUTHENTICATED)},
                                {17, std::optional<GRPCStatus>()},
                                {-1, std::optional<GRPCStatus>()}}) {
    ApplicationLog log;
    log.set_grpc_status(status);
    SetGrpcReason(&log);
    EXPECT_EQ(log.has_grpc_status_reason_phrase(), reason.has_value()) << status;
    if (reason) {
      EXPECT_EQ(log.grpc_status_reason_phrase(), *reason);
    }
  }
  ApplicationLog unset;
  SetGrpcReason(&unset);
  EXPECT_FALSE(unset.has_grpc_status_reason_phrase());
}

TEST(ConnectionFieldsTest, TotalsNeedAStartTimeAndDnsAddressesAreGatheredOnce) {
  ConnectionLog log;
  log.set_rx_bytes(10);
  log.set_tx_bytes(20);
  log.set_server_rx_pkts(3);
  SetConnectionTotals(&log);
  EXPECT_FALSE(log.has_total_bytes());
  log.set_start_timestamp(1);
  SetConnectionTotals(&log);
  EXPECT_EQ(log.total_bytes(), 30u);
  EXPECT_EQ(log.total_pkts(), 0u);
  EXPECT_EQ(log.server_total_pkts(), 3u);
  EXPECT_EQ(log.server_total_bytes(), 0u);

  log.mutable_dns_response()->add_records()->set_addr_ip(0x01020304);
  log.mutable_dns_response()->add_records()->set_fqdn("no-address");
  log.mutable_dns_response()->add_records()->set_addr_ip(0);
  CollectDnsIps(&log);
  EXPECT_EQ(std::vector<uint32_t>(log.dns_ips().begin(), log.dns_ips().end()),
            (std::vector<uint32_t>{0x01020304, 0}));
  CollectDnsIps(&log);  // dns_ips already filled
  EXPECT_EQ(log.dns_ips_size(), 2);
}

TEST(EventContextOfTest, ConfigModuleThenUuidPrefix) {
  struct Case {
    EventModule module;
    const char* uuid;
    EventContext context;
  } cases[] = {
      {CONFIG, "pool-1", EVENT_CONTEXT_CONFIG},
      {CONFIG, "", EVENT_CONTEXT_CONFIG},
      {CORVEL, "pool-1", EVENT_CONTEXT_APP},
      {CORVEL, "virtualservice-9-x", EVENT_CONTEXT_APP},
      {EVENT_MODULE_UNKNOWN, "vsvip", EVENT_CONTEXT_APP},  // no "-": the whole text
      {CORVEL, "cluster-1", EVENT_CONTEXT_SYSTEM},
      {CORVEL, "-pool", EVENT_CONTEXT_SYSTEM},
      {CORVEL, "Pool-1", EVENT_CONTEXT_SYSTEM},
      {CORVEL, "", EVENT_CONTEXT_SYSTEM},
  };
  for (const Case& c : cases) {
    EventLog event;
    event.set_module(c.module);
    event.set_obj_uuid(c.uuid);
    EXPECT_EQ(EventContextOf(event), c.context) << c.uuid;
  }
}

TEST(FilterTextsTest, BitmapAndListTexts) {
  const auto old_texts = get_bitmap_texts("_OLDKYVDEFINEDFILTERS");
  EXPECT_EQ(old_texts.size(), 49u);
  EXPECT_EQ(BitmapString(0b101, old_texts),
            "Client connection setup failed, Client connection reset");
  EXPECT_EQ(BitmapString(uint64_t{1} << 48 | uint64_t{1} << 63, old_texts), "Other reason");
  EXPECT_EQ(BitmapString(0, old_texts), "");

  const auto texts = get_bitmap_texts("_KYVDEFINEDFILTERS");
  EXPECT_EQ(texts.count(FILTER_HTTP2_PROTOCOL_ERROR), 0u);  // no display text yet
  google::protobuf::RepeatedField<int> values;
  for (int v : {FILTER_WAF_REJECT, FILTER_HTTP2_PROTOCOL_ERROR, FILTER_CLIENT_CONN_SETUP_FAILED}) {
    values.Add(v);
  }
  EXPECT_EQ(FilterListText(values, texts),
            "Firewall rejected the request, 114, Client connection setup failed");
  EXPECT_TRUE(get_bitmap_texts("KyvDefinedFilters").empty());
}

TEST(SslCipherTextTest, PropertiesOrUnknown) {
  const CipherProps props{"ECDH", "RSA", "AESGCM256", "AEAD", "True"};
  EXPECT_EQ(SslCipherText("ECDHE-RSA-AES256-GCM-SHA384", &props),
            "ECDHE-RSA-AES256-GCM-SHA384 kx:ECDH auth:RSA enc:AESGCM256 mac:AEAD PFS:True");
  EXPECT_EQ(SslCipherText("X", nullptr),
            "X kx:Unknown auth:Unknown enc:Unknown mac:Unknown PFS:Unknown");
}

TEST(SetUserAgentFieldsTest, FamiliesOfTheParser) {
  const uap_cpp::UserAgentParser parser(KYV_UAP_REGEXES);
  ASSERT_TRUE(parser.ok()) << parser.error();
  ApplicationLog log;
  log.set_user_agent(
      "Mozilla/5.0 (iPhone; CPU iPhone OS 17_1_2 like Mac OS X) AppleWebKit/605.1.15 (KHTML, "
      "like Gecko) Version/17.1 Mobile/15E148 Safari/604.1");
  SetUserAgentFields(&log, parser);
  EXPECT_EQ(log.client_device(), "iPhone");
  EXPECT_EQ(log.client_browser(), "Mobile Safari");
  EXPECT_EQ(log.client_os(), "iOS");

  ApplicationLog preset = log;  // a device already set: nothing changes
  preset.set_client_device("Kiosk");
  preset.clear_client_os();
  SetUserAgentFields(&preset, parser);
  EXPECT_EQ(preset.client_device(), "Kiosk");
  EXPECT_FALSE(preset.has_client_os());

  ApplicationLog empty;
  empty.set_user_agent("");
  SetUserAgentFields(&empty, parser);
  EXPECT_TRUE(empty.has_client_device() && empty.has_client_browser() && empty.has_client_os());
  EXPECT_EQ(empty.client_device() + empty.client_browser() + empty.client_os(), "");

  ApplicationLog none;
  SetUserAgentFields(&none, parser);
  EXPECT_FALSE(none.has_client_device());

  const uap_cpp::UserAgentParser missing(::testing::TempDir() + "no-such-regexes.yaml");
  ApplicationLog degraded;
  degraded.set_user_agent("curl/8.5.0");
  SetUserAgentFields(&degraded, missing);
  EXPECT_EQ(degraded.client_device(), "Other");
  EXPECT_EQ(degraded.client_browser(), "Other");
  EXPECT_EQ(degraded.client_os(), "Other");
}

}  // namespace
}  // namespace kyv::infra::log
