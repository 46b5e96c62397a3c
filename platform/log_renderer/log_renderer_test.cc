#include <cmath>
#include <limits>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "platform/log_renderer/es_renderer.h"
#include "proto/events.pb.h"
#include "proto/log.pb.h"

namespace {

const std::set<std::string> kNoNames;

std::string Render(const google::protobuf::Message& msg,
                   const std::set<std::string>& names = kNoNames,
                   std::vector<std::pair<std::string, std::string>> extras = {}) {
  std::string out;
  ProtoParser parser(msg, names);
  ElasticSearchWriter writer(&out);
  ESRenderer renderer(parser, writer);
  for (auto& [k, v] : extras) renderer.add_field(k, v);
  renderer.render();
  return out;
}

std::string Escaped(const std::string& in) {
  std::string out;
  ElasticSearchWriter::AppendEscaped(&out, in);
  return out;
}

TEST(ESRendererTest, LayoutOfNestedRepeatedAndEnumFieldsThenExtras) {
  ConnectionLog log;
  log.set_report_timestamp(18446744073709551615ull);
  log.set_service_engine("se-1");
  log.set_adf(true);
  log.set_virtualservice("vs");
  log.mutable_dns_request()->mutable_client_location()->set_name("Paris");
  log.add_significant_log(FILTER_WAF_MATCH);
  log.add_significant_log(FILTER_RATE_LIMITED);
  log.mutable_dns_response()->add_records()->set_addr_ip(1);
  log.mutable_dns_response()->add_records()->set_fqdn("a.b");
  log.add_dns_ips(7);
  log.add_dns_ips(4294967295u);
  EXPECT_EQ(Render(log, kNoNames, {{"id", "42"}, {"file_name", "\"f\""}}),
            "{\"report_timestamp\":18446744073709551615,\"service_engine\":\"se-1\",\"adf\":true,"
            "\"virtualservice\":\"vs\",\"dns_request\":{\"client_location\":{\"name\":\"Paris\"}},"
            "\"significant_log\":[\"FILTER_WAF_MATCH\",\"FILTER_RATE_LIMITED\"],"
            "\"dns_response\":{\"records\":[{\"addr_ip\":1},{\"fqdn\":\"a.b\"}]},"
            "\"dns_ips\":[7,4294967295],\"id\":42,\"file_name\":\"f\"}");
}

TEST(ESRendererTest, EmptyMessagesExclusionsAndSignedNumbers) {
  ApplicationLog empty;
  EXPECT_EQ(Render(empty), "{}");
  EXPECT_EQ(Render(empty, kNoNames, {{"a", "1"}, {"b\"", "\"x\""}}), "{\"a\":1,\"b\\\"\":\"x\"}");

  ApplicationLog log;
  log.set_vcpu_id(3);
  log.set_grpc_status(-5);
  log.mutable_waf_log();  // set but empty
  EXPECT_EQ(Render(log), "{\"vcpu_id\":3,\"waf_log\":{},\"grpc_status\":-5}");
  EXPECT_EQ(Render(log, {"vcpu_id", "waf_log"}), "{\"grpc_status\":-5}");

  VinfraVcenterNetworkLimit limit;
  limit.set_current(std::numeric_limits<int64_t>::min());
  EXPECT_EQ(Render(limit), "{\"current\":-9223372036854775808}");
}

TEST(ESRendererTest, DoublesAreShortestAndNonFiniteValuesStayValidJson) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {1.5, "1.5"},
      {0.1, "0.1"},
      {100, "100"},
      {-2e-300, "-2e-300"},
      {std::nan(""), "\"NaN\""},
      {HUGE_VAL, "\"Infinity\""},
      {-HUGE_VAL, "\"-Infinity\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SystemMetricThresholdDetails details;
    details.set_current_value(c.value);
    EXPECT_EQ(Render(details), std::string("{\"current_value\":") + c.text + "}");
  }
}

TEST(ESRendererTest, BytesAreBase64) {
  struct Case {
    std::string data;
    const char* text;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {std::string("\x00\xff\xfe", 3), "AP/+"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ApplicationLog log;
    log.set_cipher_bytes(c.data);
    EXPECT_EQ(Render(log), std::string("{\"cipher_bytes\":\"") + c.text + "\"}");
  }
}

TEST(ElasticSearchWriterTest, EscapesControlCharactersAndReplacesInvalidUtf8) {
  const std::string kBad = "\xEF\xBF\xBD";
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain text", "plain text"},
      {"q\"b\\s/", "q\\\"b\\\\s/"},
      {"\n\r\t\b\f", "\\n\\r\\t\\b\\f"},
      {std::string("\x00\x01\x1f\x7f", 4), "\\u0000\\u0001\\u001f\x7f"},
      {"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"a\x80z", "a" + kBad + "z"},                    // lone continuation byte
      {"\xC0\xAF", kBad + kBad},                         // overlong
      {"\xED\xA0\x80", kBad + kBad + kBad},              // surrogate
      {"\xF4\x90\x80\x80", kBad + kBad + kBad + kBad},   // above U+10FFFF
      {"\xF5", kBad},
      {"end\xE2\x82", "end" + kBad + kBad},              // cut short at the end
      {"\xE2\x82\"", kBad + kBad + "\\\""},              // cut short before a quote
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    EXPECT_EQ(Escaped(c.in), c.out);
  }
}

TEST(ProtoParserTest, VirtualServiceOfEachLogKind) {
  ApplicationLog app;
  app.set_virtualservice("vs-app");
  ConnectionLog conn;
  EventLog event;
  event.set_obj_name("vs-ignored");
  WafLog other;
  EXPECT_EQ(ProtoParser(app, kNoNames).getVSFromALog(), "vs-app");
  EXPECT_EQ(ProtoParser(conn, kNoNames).getVSFromALog(), "");
  EXPECT_EQ(ProtoParser(event, kNoNames).getVSFromALog(), "ALL-EVENTS");
  EXPECT_EQ(ProtoParser(other, kNoNames).getVSFromALog(), "");
}

}  // namespace
