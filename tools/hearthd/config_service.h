// The host's administration service (ConfigService): writes and reads configuration records in
// the datastore, as the controller's configuration layer would, and reports the host's state.
#pragma once

#include <functional>

#include "proto/admin.pb.h"

class Datastore;

class ConfigServiceImpl : public ConfigService {
 public:
  // `link_up` tells whether the connector's link to the vCenter manager is up; may be empty.
  ConfigServiceImpl(Datastore* db, std::function<bool()> link_up);

  void PutObject(google::protobuf::RpcController* controller, const ConfigObject* request,
                 ConfigObjectRsp* response, google::protobuf::Closure* done) override;
  void DeleteObject(google::protobuf::RpcController* controller, const ConfigObject* request,
                    ConfigObjectRsp* response, google::protobuf::Closure* done) override;
  void GetObject(google::protobuf::RpcController* controller, const ConfigObject* request,
                 ConfigObjectRsp* response, google::protobuf::Closure* done) override;
  void ListObjects(google::protobuf::RpcController* controller, const ConfigListReq* request,
                   ConfigListRsp* response, google::protobuf::Closure* done) override;
  void GetEvents(google::protobuf::RpcController* controller, const EventTailReq* request,
                 EventTailRsp* response, google::protobuf::Closure* done) override;
  void GetStatus(google::protobuf::RpcController* controller, const NullObj* request,
                 HostStatus* response, google::protobuf::Closure* done) override;

 private:
  Datastore* db_;
  std::function<bool()> link_up_;
};
