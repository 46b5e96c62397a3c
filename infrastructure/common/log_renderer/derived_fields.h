// Derived fields of logs that need no shared lookup: response-time splits, traffic totals,
// client cipher suites, gRPC reasons, DNS answer addresses, event contexts, user agent families
// and the expanded cipher text.
#pragma once

#include <cstdint>
#include <string>

#include "infrastructure/common/log_renderer/cipher_table.h"
#include "platform/uap/user_agent_parser.h"
#include "proto/events.pb.h"
#include "proto/log.pb.h"

namespace kyv::infra::log {

// Writes the dotted-quad text of `ip` (first octet in the most significant byte) to *out.
void parse_ip_addr(uint32_t ip, std::string* out);

// With a first-byte time F: app_response_time = F - server_rtt, 0 when server_rtt >= F.
// With a last-byte time L: data_transfer_time = L - F (0 when F >= L) less the WAF phase
// latencies rounded to whole milliseconds ((sum + 499) / 1000, never below 0), and a total_time
// of 0 becomes L + client_rtt.
void SetResponseTimes(ApplicationLog* log);

// With a start_timestamp: the four totals are the sums of their rx and tx counters.
void SetConnectionTotals(ConnectionLog* log);

// Moves the client's offered suites from cipher_bytes (16-bit big-endian values; an odd last
// byte is ignored) into client_cipher_list: known AllCipherEnums values as identified ciphers,
// others as lower-case hex text. cipher_bytes is cleared. Nothing happens when it is empty.
void SetClientCiphers(ApplicationLog* log);

// grpc_status 0 to 16 sets grpc_status_reason_phrase to the GRPCStatus of the same number.
void SetGrpcReason(ApplicationLog* log);

// With a DNS answer and no dns_ips yet: the addr_ip of every answer record that has one.
void CollectDnsIps(ConnectionLog* log);

// CONFIG events are in the configuration context; others in the application context when the
// text of obj_uuid before its first "-" names a field of EventContextAppUuidPrefix, else in the
// system context.
EventContext EventContextOf(const EventLog& event);

// With a user_agent and no client_device yet: the device, browser and OS families the parser
// gives ("" for all three when the user agent is empty).
void SetUserAgentFields(ApplicationLog* log, const uap_cpp::UserAgentParser& parser);

// "<name> kx:<kx> auth:<auth> enc:<enc> mac:<mac> PFS:<pfs>"; "Unknown" for each property when
// `props` is null (a cipher the listing lacks).
std::string SslCipherText(const std::string& name, const CipherProps* props);

}  // namespace kyv::infra::log
