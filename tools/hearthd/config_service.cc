#include "tools/hearthd/config_service.h"

#include <google/protobuf/util/json_util.h>

#include <memory>

#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_service_impl.h"
#include "platform/datastore/datastore.h"
#include "platform/datastore/transaction.h"
#include "platform/events/event_api.h"

namespace {

using google::protobuf::Descriptor;
using google::protobuf::Message;

const Descriptor* FindType(const std::string& type) {
  return google::protobuf::DescriptorPool::generated_pool()->FindMessageTypeByName(type);
}

std::unique_ptr<Message> NewMessage(const Descriptor* d) {
  return std::unique_ptr<Message>(
      google::protobuf::MessageFactory::generated_factory()->GetPrototype(d)->New());
}

// Clears every field named "password", at any depth, so that no answer carries one.
void ScrubPasswords(Message* msg) {
  const auto* refl = msg->GetReflection();
  const auto* desc = msg->GetDescriptor();
  for (int i = 0; i < desc->field_count(); ++i) {
    const auto* f = desc->field(i);
    if (f->name() == "password" && f->type() == google::protobuf::FieldDescriptor::TYPE_STRING) {
      refl->ClearField(msg, f);
    } else if (f->cpp_type() == google::protobuf::FieldDescriptor::CPPTYPE_MESSAGE) {
      if (f->is_repeated()) {
        for (int j = 0; j < refl->FieldSize(*msg, f); ++j) {
          ScrubPasswords(refl->MutableRepeatedMessage(msg, f, j));
        }
      } else if (refl->HasField(*msg, f)) {
        ScrubPasswords(refl->MutableMessage(msg, f));
      }
    }
  }
}

// The record's own `uuid` field, when it has one.
std::string UuidOf(const Message& msg) {
  const auto* f = msg.GetDescriptor()->FindFieldByName("uuid");
  if (f == nullptr || f->cpp_type() != google::protobuf::FieldDescriptor::CPPTYPE_STRING ||
      f->is_repeated()) {
    return "";
  }
  return msg.GetReflection()->GetString(msg, f);
}

bool ToJson(const Message& msg, std::string* out) {
  auto copy = std::unique_ptr<Message>(msg.New());
  copy->CopyFrom(msg);
  ScrubPasswords(copy.get());
  google::protobuf::util::JsonPrintOptions opts;
  opts.preserve_proto_field_names = true;
  return google::protobuf::util::MessageToJsonString(*copy, out, opts).ok();
}

template <typename Rsp>
void Fail(Rsp* rsp, Syserr status, const std::string& error) {
  rsp->set_status(status);
  rsp->set_error(error);
}

}  // namespace

ConfigServiceImpl::ConfigServiceImpl(Datastore* db, std::function<bool()> link_up)
    : db_(db), link_up_(std::move(link_up)) {}

void ConfigServiceImpl::PutObject(google::protobuf::RpcController*, const ConfigObject* req,
                                  ConfigObjectRsp* rsp, google::protobuf::Closure* done) {
  const Descriptor* d = FindType(req->type());
  if (d == nullptr) {
    Fail(rsp, SYSERR_INVALID_ARG, "unknown record type '" + req->type() + "'");
    return done->Run();
  }
  auto msg = NewMessage(d);
  google::protobuf::util::JsonParseOptions opts;
  auto st = google::protobuf::util::JsonStringToMessage(req->json(), msg.get(), opts);
  if (!st.ok()) {
    Fail(rsp, SYSERR_INVALID_ARG, "bad " + req->type() + " JSON: " + std::string(st.message()));
    return done->Run();
  }
  std::string key = req->uuid().empty() ? UuidOf(*msg) : req->uuid();
  if (key.empty()) {
    Fail(rsp, SYSERR_INVALID_ARG, "the record has no uuid");
    return done->Run();
  }
  auto* txn = new Transaction();
  DbIndex index(db_table_name_from_pb(d->name()), key);
  Syserr err = txn->db_view()->DbUpdate(index, msg.get(), nullptr, false, false, false);
  if (err != SYSERR_SUCCESS) {
    txn->Abort(false);
    Fail(rsp, err, "the write was refused");
    return done->Run();
  }
  err = txn->Commit(false);
  if (err != SYSERR_SUCCESS) {
    Fail(rsp, err, "the commit failed");
    return done->Run();
  }
  rsp->set_status(SYSERR_SUCCESS);
  rsp->mutable_object()->set_type(req->type());
  rsp->mutable_object()->set_uuid(key);
  done->Run();
}

void ConfigServiceImpl::DeleteObject(google::protobuf::RpcController*, const ConfigObject* req,
                                     ConfigObjectRsp* rsp, google::protobuf::Closure* done) {
  const Descriptor* d = FindType(req->type());
  if (d == nullptr || req->uuid().empty()) {
    Fail(rsp, SYSERR_INVALID_ARG, "a known record type and a uuid are needed");
    return done->Run();
  }
  const std::string table = db_table_name_from_pb(d->name());
  Message* cfg = nullptr;
  Message* rt = nullptr;
  Syserr err = db_->GetInternal(table, req->uuid(), &cfg, &rt);
  if (err != SYSERR_SUCCESS) {
    Fail(rsp, err, "no " + req->type() + " with uuid " + req->uuid());
    return done->Run();
  }
  auto* txn = new Transaction();
  txn->db_view()->DbUpdate(DbIndex(table, req->uuid()), cfg, rt, true, false, false);
  delete cfg;
  delete rt;
  err = txn->Commit(false);
  rsp->set_status(err);
  done->Run();
}

void ConfigServiceImpl::GetObject(google::protobuf::RpcController*, const ConfigObject* req,
                                  ConfigObjectRsp* rsp, google::protobuf::Closure* done) {
  const Descriptor* d = FindType(req->type());
  if (d == nullptr) {
    Fail(rsp, SYSERR_INVALID_ARG, "unknown record type '" + req->type() + "'");
    return done->Run();
  }
  Message* cfg = nullptr;
  Message* rt = nullptr;
  Syserr err = db_->GetInternal(db_table_name_from_pb(d->name()), req->uuid(), &cfg, &rt);
  if (err != SYSERR_SUCCESS) {
    Fail(rsp, err, "no " + req->type() + " with uuid " + req->uuid());
    return done->Run();
  }
  std::unique_ptr<Message> owned_cfg(cfg), owned_rt(rt);
  const Message* shown = cfg != nullptr && cfg->GetDescriptor() == d ? cfg : rt;
  std::string json;
  if (shown != nullptr) ToJson(*shown, &json);
  rsp->set_status(SYSERR_SUCCESS);
  rsp->mutable_object()->set_type(req->type());
  rsp->mutable_object()->set_uuid(req->uuid());
  rsp->mutable_object()->set_json(json);
  done->Run();
}

void ConfigServiceImpl::ListObjects(google::protobuf::RpcController*, const ConfigListReq* req,
                                    ConfigListRsp* rsp, google::protobuf::Closure* done) {
  const Descriptor* d = FindType(req->type());
  if (d == nullptr) {
    Fail(rsp, SYSERR_INVALID_ARG, "unknown record type '" + req->type() + "'");
    return done->Run();
  }
  const std::string table = db_table_name_from_pb(d->name());
  std::vector<std::pair<std::string, std::string>> pairs;
  Syserr err = db_->GetAll(table, &pairs, 0);
  if (err != SYSERR_SUCCESS) {
    Fail(rsp, err, "cannot list " + table);
    return done->Run();
  }
  for (const auto& p : pairs) {
    Message* cfg = nullptr;
    Message* rt = nullptr;
    if (db_->GetInternal(table, p.second, &cfg, &rt) != SYSERR_SUCCESS) continue;
    std::unique_ptr<Message> owned_cfg(cfg), owned_rt(rt);
    const Message* shown = cfg != nullptr && cfg->GetDescriptor() == d ? cfg : rt;
    ConfigObject* out = rsp->add_objects();
    out->set_type(req->type());
    out->set_uuid(p.second);
    if (shown != nullptr) ToJson(*shown, out->mutable_json());
  }
  rsp->set_status(SYSERR_SUCCESS);
  done->Run();
}

void ConfigServiceImpl::GetEvents(google::protobuf::RpcController*, const EventTailReq* req,
                                  EventTailRsp* rsp, google::protobuf::Closure* done) {
  const auto& tail = EventSink::Get().tail();
  size_t n = tail.size();
  size_t first = (req->max() > 0 && static_cast<size_t>(req->max()) < n) ? n - req->max() : 0;
  for (size_t i = first; i < n; ++i) *rsp->add_events() = tail[i];
  done->Run();
}

void ConfigServiceImpl::GetStatus(google::protobuf::RpcController*, const NullObj*,
                                  HostStatus* rsp, google::protobuf::Closure* done) {
  if (CorvelServiceImpl* svc = CorvelGlobals::corvel_service()) {
    rsp->set_controller_uuid(svc->controller_uuid());
    rsp->set_controller_vm_mor(svc->controller_vm_mor());
    for (const auto& ip : svc->controller_ips()) rsp->add_controller_ips(ip);
    rsp->set_vcmgr_link_ups(svc->tcp_up_count());
    rsp->add_services("corvel");
  }
  rsp->set_vcmgr_connected(link_up_ && link_up_());
  done->Run();
}
