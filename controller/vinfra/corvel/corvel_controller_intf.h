// The connector's controller service worker: owns the TCP link to the vCenter manager (kept up
// by a one-second reconnect timer), the connector's two RPC services and, with
// --enable_vcmgr_notif, the server on which the vCenter manager delivers its notifications.
#pragma once

#include <boost/asio/io_context.hpp>
#include <gflags/gflags.h>

#include <memory>
#include <string>

#include "infrastructure/svc_common/controller_service_interface.h"

class TaskQueue;
class Datastore;
class EventApi;
class CorvelServiceImpl;
class CorvelCliServiceImpl;
class TcpRpcChannel;
class TcpServer;
class TcpRpcReqProcessor;
class TcpRpcRespProcessor;
class TcpClient;
class SvcTimer;
class vCenterMgrService_Stub;

DECLARE_bool(enable_vcmgr_notif);
DECLARE_string(vcmgr_host);
DECLARE_string(vcmgr_port);
DECLARE_int32(vcmgr_notif_port);

class CorvelWorker : public ControllerServiceInterface {
 public:
  // Arms nothing yet: creates the reconnect timer and registers the worker in CorvelGlobals.
  CorvelWorker(ControllerServicesId svc_id, boost::asio::io_context& ios,
               TaskQueue* p_global_taskq, Datastore* p_db, bool discovery);
  ~CorvelWorker() override;

  // Starts the link (asynchronously), builds the services and, when asked, the notification
  // server, then reads the controller's identity. Returns SYSERR_SUCCESS or ends the process
  // (status 0) when the identity cannot be read.
  Syserr Initialize() override;
  Syserr OutOfService() override { return SYSERR_SUCCESS; }
  // Both stop the service's task-queue subscription and quarantine timer; the link stays.
  Syserr Terminate() override;
  Syserr Restart() override { return SYSERR_SUCCESS; }
  Syserr Upgrade() override { return SYSERR_SUCCESS; }
  void PrepareForColdRestart() override {}
  ControllerServicesId id() override { return svc_id_; }
  virtual Syserr Shutdown();

  TaskQueue* p_taskq() { return p_taskq_; }
  Datastore* p_datastore() { return p_datastore_; }
  EventApi* event_api() { return p_event_api_; }
  static boost::asio::io_context* io_service() { return io_service_; }
  static void set_io_service(boost::asio::io_context* ios);

  // Link supervision, all on the I/O context.
  void TcpConnectionSuccessCb();
  void TcpConnectionFailedCb();
  void VCMgrTCPReconnectTimerExpiryCb();
  void StartTCPReconnectTimer();

  // Accessors for the host and tests.
  CorvelServiceImpl* service() { return p_message_handlers_; }
  CorvelCliServiceImpl* cli_service() { return p_cli_message_handler_; }
  TcpServer* notification_server() { return p_tcp_server_; }
  TcpRpcReqProcessor* notification_processor() { return tcp_req_processor_; }
  vCenterMgrService_Stub* vcenter_mgr_stub() { return vcenter_mgr_stub_; }
  // True while the link to the vCenter manager is connected.
  bool link_up() const;

  // Releases the process-wide slots (I/O context, CorvelGlobals) so that a test can build
  // another worker. Only for tests, after the worker is destroyed.
  static void ResetGlobalsForTest();

 private:
  // Resolves the vCenter manager's address and starts a connection attempt; a failure to
  // resolve counts as a failed attempt.
  void StartConnect();

  TaskQueue* p_taskq_ = nullptr;
  Datastore* p_datastore_ = nullptr;
  EventApi* p_event_api_ = nullptr;
  bool initiate_vcenter_discovery_;
  static boost::asio::io_context* io_service_;
  ControllerServicesId svc_id_;
  CorvelServiceImpl* p_message_handlers_ = nullptr;
  CorvelCliServiceImpl* p_cli_message_handler_ = nullptr;
  TcpRpcChannel* vcenter_mgr_rpc_channel_ = nullptr;
  vCenterMgrService_Stub* vcenter_mgr_stub_ = nullptr;
  TcpServer* p_tcp_server_ = nullptr;
  TcpRpcReqProcessor* tcp_req_processor_ = nullptr;
  std::string host_;
  std::string port_;
  std::shared_ptr<TcpClient> vcenter_mgr_tcp_client_;
  std::shared_ptr<SvcTimer> vcenter_mgr_connect_timer_;
  std::unique_ptr<TcpRpcRespProcessor> resp_processor_;
  int failed_attempts_ = 0;  // failed attempts since the link was last up
};
