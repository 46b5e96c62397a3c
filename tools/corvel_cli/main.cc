// corvel-cli: the operator's command line over a host's admin port.
#include <gflags/gflags.h>
#include <glog/logging.h>
#include <google/protobuf/util/json_util.h>

#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/common/cli_help.h"
#include "platform/svc/tcp/blocking_rpc_client.h"
#include "proto/admin.pb.h"

DEFINE_string(host, "127.0.0.1", "Address of the host's admin port");
DEFINE_int32(admin_port, 5090, "The host's admin port");
DEFINE_bool(json, false, "Print answers as JSON instead of tables");
DEFINE_int32(timeout, 30, "Seconds to wait for an answer");
DEFINE_int32(max, 0, "events: newest events to show (0: all the host keeps)");

namespace {

const char kUsage[] =
    "operator command line over a host's admin port.\n"
    "  corvel-cli [--admin_port=N] [--json] COMMAND ...\n"
    "Commands:\n"
    "  status                        controller identity and vCenter manager link\n"
    "  config put TYPE JSON|@FILE    write a configuration record (TYPE: Cloud, Cluster, ...)\n"
    "  config get TYPE UUID          show one record\n"
    "  config list TYPE              list the records of a type\n"
    "  config delete TYPE UUID       delete a record\n"
    "  events [--max=N]              the events the host raised";

int Fail(const std::string& msg) {
  std::cerr << "corvel-cli: " << msg << "\n";
  return 1;
}

std::string ToJson(const google::protobuf::Message& m) {
  std::string out;
  google::protobuf::util::JsonPrintOptions opts;
  opts.preserve_proto_field_names = true;
  opts.add_whitespace = true;
  google::protobuf::util::MessageToJsonString(m, &out, opts);
  return out;
}

template <typename Rsp>
bool CallAdmin(BlockingRpcClient* client, const std::string& method,
               const google::protobuf::Message& req, Rsp* rsp, std::string* err) {
  const auto* m = ConfigService::descriptor()->FindMethodByName(method);
  return client->Call(m, req, rsp, FLAGS_timeout, err);
}

std::string ReadArg(const std::string& arg, std::string* err) {
  if (arg.empty() || arg[0] != '@') return arg;
  std::ifstream in(arg.substr(1));
  if (!in) {
    *err = "cannot read " + arg.substr(1);
    return "";
  }
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int Status(BlockingRpcClient* client) {
  NullObj req;
  HostStatus rsp;
  std::string err;
  if (!CallAdmin(client, "GetStatus", req, &rsp, &err)) return Fail(err);
  if (FLAGS_json) {
    std::cout << ToJson(rsp);
    return 0;
  }
  std::string ips;
  for (const auto& ip : rsp.controller_ips()) ips += (ips.empty() ? "" : ", ") + ip;
  std::cout << "controller uuid    " << rsp.controller_uuid() << "\n"
            << "controller VM      " << rsp.controller_vm_mor() << "\n"
            << "controller IPs     " << ips << "\n"
            << "vCenter manager    " << (rsp.vcmgr_connected() ? "connected" : "not connected")
            << " (link came up " << rsp.vcmgr_link_ups() << " times)\n";
  return 0;
}

int Config(BlockingRpcClient* client, const std::vector<std::string>& args) {
  if (args.size() < 2) return Fail("config needs an action and a record type; see --help");
  const std::string& action = args[0];
  ConfigObject obj;
  obj.set_type(args[1]);
  std::string err;
  if (action == "list") {
    ConfigListReq req;
    req.set_type(args[1]);
    ConfigListRsp rsp;
    if (!CallAdmin(client, "ListObjects", req, &rsp, &err)) return Fail(err);
    if (rsp.status() != SYSERR_SUCCESS) return Fail(rsp.error());
    if (FLAGS_json) {
      std::cout << ToJson(rsp);
    } else {
      for (const auto& o : rsp.objects()) std::cout << o.uuid() << "  " << o.json() << "\n";
    }
    return 0;
  }
  if (args.size() < 3) return Fail("config " + action + " needs " + (action == "put" ? "JSON" : "a uuid"));
  std::string method;
  if (action == "put") {
    method = "PutObject";
    obj.set_json(ReadArg(args[2], &err));
    if (!err.empty()) return Fail(err);
  } else if (action == "get") {
    method = "GetObject";
    obj.set_uuid(args[2]);
  } else if (action == "delete") {
    method = "DeleteObject";
    obj.set_uuid(args[2]);
  } else {
    return Fail("unknown config action '" + action + "'");
  }
  ConfigObjectRsp rsp;
  if (!CallAdmin(client, method, obj, &rsp, &err)) return Fail(err);
  if (rsp.status() != SYSERR_SUCCESS) return Fail(rsp.error().empty() ? "failed" : rsp.error());
  if (FLAGS_json) {
    std::cout << ToJson(rsp);
  } else if (action == "get") {
    std::cout << rsp.object().json() << "\n";
  } else {
    std::cout << action << " " << rsp.object().type() << " " << rsp.object().uuid() << ": ok\n";
  }
  return 0;
}

int Events(BlockingRpcClient* client) {
  EventTailReq req;
  req.set_max(FLAGS_max);
  EventTailRsp rsp;
  std::string err;
  if (!CallAdmin(client, "GetEvents", req, &rsp, &err)) return Fail(err);
  if (FLAGS_json) {
    std::cout << ToJson(rsp);
    return 0;
  }
  for (const auto& ev : rsp.events()) {
    std::cout << EventId_Name(ev.event_id()) << "  " << KyvObjectType_Name(ev.obj_type()) << " "
              << ev.obj_uuid() << "  " << ev.event_details().ShortDebugString() << "\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  gflags::SetUsageMessage(kUsage);
  kyv::HandleHelpFlag(argc, argv, {"tools/corvel_cli"});
  // Library log lines stay quiet unless something goes wrong.
  FLAGS_logtostderr = true;
  FLAGS_minloglevel = google::GLOG_WARNING;
  gflags::ParseCommandLineFlags(&argc, &argv, true);
  google::InitGoogleLogging(argv[0]);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Fail("no command; see --help");

  BlockingRpcClient client;
  std::string err;
  if (!client.Connect(FLAGS_host, std::to_string(FLAGS_admin_port), 5000, &err)) return Fail(err);

  const std::string cmd = args[0];
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (cmd == "status") return Status(&client);
  if (cmd == "config") return Config(&client, rest);
  if (cmd == "events") return Events(&client);
  return Fail("unknown command '" + cmd + "'; see --help");
}
