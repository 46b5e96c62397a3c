#include "controller/vinfra/corvel/corvel_controller_intf.h"

#include <boost/asio/ip/tcp.hpp>
#include <glog/logging.h>


#include "controller/vinfra/corvel/corvel_cli_service_impl.h"
#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_service_impl.h"
#include "platform/events/event_api.h"
#include "platform/svc/svc_timer.h"
#include "platform/svc/tcp/tcp_client.h"
#include "platform/svc/tcp/tcp_rpc_channel.h"
#include "platform/svc/tcp/tcp_rpc_req_processor.h"
#include "platform/svc/tcp/tcp_rpc_resp_processor.h"
#include "platform/svc/tcp/tcp_server.h"
#include "proto/vcenter_mgr.pb.h"

DEFINE_bool(enable_vcmgr_notif, false,
            "Enable vCenter_Mgr Java process to send notifications to this controller");
DEFINE_string(vcmgr_host, "127.0.0.1", "Address of the vCenter manager (loopback)");
DEFINE_string(vcmgr_port, "5007", "Port of the vCenter manager");
DEFINE_int32(vcmgr_notif_port, 5008, "Port on which the vCenter manager's notifications arrive");

boost::asio::io_context* CorvelWorker::io_service_ = nullptr;

namespace {
constexpr int kReconnectPeriodMs = 1000;
}

CorvelWorker::CorvelWorker(ControllerServicesId svc_id, boost::asio::io_context& ios,
                           TaskQueue* p_global_taskq, Datastore* p_db, bool discovery)
    : p_taskq_(p_global_taskq),
      p_datastore_(p_db),
      initiate_vcenter_discovery_(discovery),
      svc_id_(svc_id),
      vcenter_mgr_connect_timer_(std::make_shared<SvcTimer>(kReconnectPeriodMs)) {
  set_io_service(&ios);
  CorvelGlobals::SetGlobalWorkerInstance(this);
}

CorvelWorker::~CorvelWorker() {
  vcenter_mgr_connect_timer_->Stop();
  if (vcenter_mgr_tcp_client_) vcenter_mgr_tcp_client_->stop();
  if (p_tcp_server_ != nullptr) p_tcp_server_->stop();
  delete p_tcp_server_;
  delete tcp_req_processor_;
  delete p_cli_message_handler_;
  delete p_message_handlers_;
  delete vcenter_mgr_stub_;
  delete vcenter_mgr_rpc_channel_;
  delete p_event_api_;
  vcenter_mgr_tcp_client_.reset();
  vcenter_mgr_connect_timer_.reset();
}

void CorvelWorker::set_io_service(boost::asio::io_context* ios) {
  CHECK(io_service_ == nullptr) << "the connector runs on one I/O context";
  io_service_ = ios;
}

void CorvelWorker::ResetGlobalsForTest() {
  io_service_ = nullptr;
  CorvelGlobals::ResetForTest();
}

Syserr CorvelWorker::Initialize() {
  host_ = FLAGS_vcmgr_host;
  port_ = FLAGS_vcmgr_port;

  resp_processor_ = std::make_unique<TcpRpcRespProcessor>();
  vcenter_mgr_tcp_client_ =
      std::make_shared<TcpClient>(*io_service_, host_, port_, resp_processor_.get(), "");
  StartConnect();

  vcenter_mgr_rpc_channel_ = new TcpRpcChannel(vcenter_mgr_tcp_client_.get());
  vcenter_mgr_stub_ = new vCenterMgrService_Stub(vcenter_mgr_rpc_channel_);

  p_message_handlers_ = new CorvelServiceImpl(initiate_vcenter_discovery_);
  p_message_handlers_->Initialize(io_service_, RedisClientPtr(), p_taskq_, vcenter_mgr_stub_,
                                  p_datastore_);

  p_cli_message_handler_ = new CorvelCliServiceImpl(p_message_handlers_);
  p_cli_message_handler_->Initialize(io_service_, RedisClientPtr(), p_taskq_, p_datastore_);

  if (FLAGS_enable_vcmgr_notif) {
    LOG(INFO) << "Starting TCP Server to listen to Corvel notifications";
    tcp_req_processor_ = new TcpRpcReqProcessor();
    tcp_req_processor_->register_service(p_message_handlers_);
    // Notifications change the inventory without authentication: loopback only.
    p_tcp_server_ = new TcpServer(*io_service_, static_cast<uint16_t>(FLAGS_vcmgr_notif_port),
                                  tcp_req_processor_, "127.0.0.1");
    p_tcp_server_->start_server(nullptr);
  }

  LOG(INFO) << "New Corvel Worked initialized ";
  p_event_api_ = new EventApi(svc_id_);

  p_message_handlers_->RetrieveControllerUUIDOrExit();
  return SYSERR_SUCCESS;
}

Syserr CorvelWorker::Terminate() {
  if (p_message_handlers_ != nullptr) p_message_handlers_->Terminate();
  return SYSERR_SUCCESS;
}

Syserr CorvelWorker::Shutdown() { return Terminate(); }

void CorvelWorker::StartConnect() {
  boost::asio::ip::tcp::resolver resolver(*io_service_);
  boost::system::error_code ec;
  auto endpoints = resolver.resolve(host_, port_, boost::asio::ip::tcp::resolver::address_configured, ec);
  if (ec || endpoints.empty()) {
    LOG(WARNING) << "Could not resolve the vCenter manager at " << host_ << ":" << port_ << ": "
                 << ec.message();
    TcpConnectionFailedCb();
    return;
  }
  vcenter_mgr_tcp_client_->start(
      endpoints, [this](TcpClient*) { TcpConnectionSuccessCb(); },
      [this](TcpClient*) { TcpConnectionFailedCb(); });
}

bool CorvelWorker::link_up() const {
  return vcenter_mgr_tcp_client_ && vcenter_mgr_tcp_client_->connected();
}

void CorvelWorker::TcpConnectionSuccessCb() {
  LOG(INFO) << "Tcp Connection Success Callback";
  failed_attempts_ = 0;
  vcenter_mgr_connect_timer_->Stop();
  p_message_handlers_->HandleTcpUp();
}

void CorvelWorker::TcpConnectionFailedCb() {
  // One line when the link goes (or stays) down, then one per attempt at verbose level 1.
  if (failed_attempts_++ == 0) {
    LOG(INFO) << "vCenter manager at " << host_ << ":" << port_
              << " not reachable; retrying every second";
  } else {
    VLOG(1) << "vCenter manager still not reachable (attempt " << failed_attempts_ << ")";
  }
  StartTCPReconnectTimer();
}

void CorvelWorker::StartTCPReconnectTimer() {
  vcenter_mgr_connect_timer_->Start(*io_service_, [this] { VCMgrTCPReconnectTimerExpiryCb(); });
}

void CorvelWorker::VCMgrTCPReconnectTimerExpiryCb() { StartConnect(); }
