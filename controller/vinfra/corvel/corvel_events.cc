#include "controller/vinfra/corvel/corvel_events.h"

#include <glog/logging.h>

#include <utility>

#include "controller/vinfra/corvel/corvel_common.h"
#include "controller/vinfra/corvel/corvel_controller_intf.h"
#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_service_impl.h"
#include "platform/datastore/transaction.h"
#include "platform/events/event_api.h"
#include "platform/naming/naming.h"

namespace {

EventApi* g_test_event_api = nullptr;

// The channel events go to: the test's while set, else the global worker's (null if none).
EventApi* CorvelEventChannel() {
  if (g_test_event_api != nullptr) return g_test_event_api;
  CorvelWorker* worker = CorvelGlobals::corvel_worker();
  return worker != nullptr ? worker->event_api() : nullptr;
}

// Raises one event of the connector's module; the result is not examined.
void CorvelRaiseEvent(KyvObjectType obj_type, const std::string& obj_uuid, EventId event_id,
                      const EventDetails& details, EventApiInfo* info, bool flag) {
  EventApi* event_api = CorvelEventChannel();
  if (event_api == nullptr) {
    LOG(WARNING) << "No event channel: event " << EventId_Name(event_id) << " on " << obj_uuid
                 << " dropped";
    return;
  }
  event_api->GenerateEvent(obj_type, obj_uuid, event_id, CORVEL, details, info, flag);
}

// Raises an event on the controller cluster, the subject of vCenter-level events.
void CorvelRaiseClusterEvent(EventId event_id, const EventDetails& details,
                             EventApiInfo* info = nullptr, bool flag = false) {
  CorvelServiceImpl* service = CorvelGlobals::corvel_service();
  if (service == nullptr) {
    LOG(WARNING) << "No connector service: event " << EventId_Name(event_id) << " dropped";
    return;
  }
  CorvelRaiseEvent(CLUSTER, service->controller_uuid(), event_id, details, info, flag);
}

// An info in the tenant "admin".
EventApiInfo AdminInfo() {
  EventApiInfo info;
  info.set_tenant("admin");
  return info;
}

Logger* CorvelEventLogger() {
  CorvelServiceImpl* service = CorvelGlobals::corvel_service();
  return service != nullptr ? service->logger() : nullptr;
}

}  // namespace

void CorvelSetEventApiForTest(EventApi* event_api) { g_test_event_api = event_api; }

void CorvelGenDiscProgressEvent(Transaction* /*txn*/, std::string vcenter_uuid,
                                EventId event_id, int num_objs) {
  EventDetails details;
  VinfraDiscSummaryDetails* summary = details.mutable_disc_summary();
  summary->set_vcenter(std::move(vcenter_uuid));
  switch (event_id) {
    case VINFRA_DISC_DC:
      summary->set_num_dcs(num_objs);
      break;
    case VINFRA_DISC_HOST:
      summary->set_num_hosts(num_objs);
      break;
    case VINFRA_DISC_CLUSTER:
      summary->set_num_clusters(num_objs);
      break;
    case VINFRA_DISC_VM:
      summary->set_num_vms(num_objs);
      break;
    case VINFRA_DISC_NW:
      summary->set_num_nws(num_objs);
      break;
    default:
      return;  // not a progress event
  }
  CorvelRaiseClusterEvent(event_id, details);
}

void CorvelGenDiscCompleteEvent(Transaction* /*txn*/, CorvelVcenterRuntime* vcenter_obj) {
  if (vcenter_obj == nullptr) {
    LOG(WARNING) << "Discovery complete event without a vCenter record dropped";
    return;
  }
  EventDetails details;
  VinfraDiscSummaryDetails* summary = details.mutable_disc_summary();
  summary->set_vcenter(vcenter_obj->uuid());
  summary->set_num_dcs(vcenter_obj->num_dcs());
  summary->set_num_hosts(vcenter_obj->num_hosts());
  summary->set_num_clusters(vcenter_obj->num_clusters());
  summary->set_num_vms(vcenter_obj->num_vms());
  summary->set_num_nws(vcenter_obj->num_nws());
  CorvelRaiseClusterEvent(VINFRA_DISC_COMPLETE, details);
}

void CorvelGenVcenterBadCredentials(std::string vcenter, std::string username,
                                    std::string /*password*/) {
  EventDetails details;
  VinfraVcenterBadCredentials* vc = details.mutable_vcenter_details();
  vc->set_vcenter(std::move(vcenter));
  vc->set_name(std::move(username));
  CorvelRaiseClusterEvent(VCENTER_BAD_CREDENTIALS, details);
}

void CorvelGenVcenterVerMismatch(std::string vcenter, std::string username,
                                 std::string /*password*/, std::string vcenter_name) {
  EventDetails details;
  VinfraVcenterBadCredentials* vc = details.mutable_vcenter_details();
  vc->set_vcenter(std::move(vcenter));
  vc->set_name(std::move(username));
  vc->set_vcenter_name(std::move(vcenter_name));
  CorvelRaiseClusterEvent(VCENTER_VERSION_NOT_SUPPORTED, details);
}

void CorvelGenVcenterAddressError(std::string vcenter) {
  EventDetails details;
  details.mutable_vcenter_details()->set_vcenter(std::move(vcenter));
  CorvelRaiseClusterEvent(VCENTER_ADDRESS_ERROR, details);
}

void CorvelGenVcenterUnreachableHosts(std::string vcenter, std::vector<std::string> host_list) {
  EventDetails details;
  VinfraCntlrHostUnreachableList* hosts = details.mutable_cntlr_host_list_details();
  hosts->set_vcenter(std::move(vcenter));
  for (std::string& host : host_list) hosts->add_host_name(std::move(host));
  CorvelRaiseClusterEvent(ESX_HOST_UNREACHABLE, details);
}

void CorvelGenMgmtNwChangeEvent(std::string vcenter, std::string existing_nw, std::string new_nw) {
  EventDetails details;
  VinfraMgmtNwChangeDetails* change = details.mutable_mgmt_nw_change_details();
  change->set_vcenter(std::move(vcenter));
  change->set_existing_nw(std::move(existing_nw));
  change->set_new_nw(std::move(new_nw));
  CorvelRaiseClusterEvent(MGMT_NW_NAME_CHANGED, details);
}

void CorvelGenVcenterConfigDelEvent(EventId event_id, std::string vcenter, std::string name) {
  EventDetails details;
  VinfraVcenterObjDeleteDetails* del = details.mutable_vcenter_obj_delete_details();
  del->set_vcenter(std::move(vcenter));
  del->set_obj_name(std::move(name));
  CorvelRaiseClusterEvent(event_id, details);
}

void CorvelGenSeGroupConfigDelEvent(std::string se_group_uuid, EventId event_id,
                                    std::string vcenter, std::string name) {
  EventDetails details;
  VinfraVcenterObjDeleteDetails* del = details.mutable_vcenter_obj_delete_details();
  del->set_vcenter(std::move(vcenter));
  del->set_obj_name(std::move(name));
  CorvelRaiseEvent(SERVICEENGINEGROUP, se_group_uuid, event_id, details, nullptr, false);
}

void CorvelGenDiscFailureEvent(std::string vcenter, std::string state) {
  EventDetails details;
  VinfraVcenterDiscoveryFailure* failure = details.mutable_vcenter_disc_failure();
  failure->set_vcenter(std::move(vcenter));
  failure->set_state(std::move(state));
  CorvelRaiseClusterEvent(VINFRA_DISC_FAILURE, details);
}

void CorvelGenEsxHostPoweredDown(std::string host_uuid, EventId event_id,
                                 EventApiInfo* event_info, std::string vcenter, std::string name) {
  EventDetails details;
  VinfraVcenterObjDeleteDetails* del = details.mutable_vcenter_obj_delete_details();
  del->set_vcenter(std::move(vcenter));
  del->set_obj_name(std::move(name));
  CorvelRaiseEvent(HOST, host_uuid, event_id, details, event_info, true);
}

void CorvelGenVcenterConnectivity(std::string vcenter, std::string datacenter, std::string cloud,
                                  bool state) {
  EventDetails details;
  VinfraVcenterConnectivityStatus* status = details.mutable_vcenter_connectivity_status();
  status->set_vcenter(std::move(vcenter));
  status->set_datacenter(std::move(datacenter));
  status->set_cloud(std::move(cloud));
  CorvelRaiseClusterEvent(state ? VCENTER_CONNECTIVITY_SUCCESS : VCENTER_CONNECTIVITY_FAIL,
                          details);
}

void CORVELGenAuthFailure(CORVEL_STATUS status, std::string detailed_reason,
                          std::string username, std::string vcenter_url) {
  if (status != CORVEL_BAD_CREDENTIALS) return;
  EventDetails details;
  AuditComplianceEventInfo* audit = details.mutable_generic_audit_compliance_event_info();
  audit->set_type(AUDIT_INVALID_CREDENTIALS);
  if (!username.empty()) {
    ACUserIdentity* identity = audit->add_user_identities();
    identity->set_type("username");
    identity->set_value(std::move(username));
  }
  if (!vcenter_url.empty()) {
    ACSubjectInfo* subject = audit->add_subjects();
    subject->set_type("URI");
    subject->set_value(std::move(vcenter_url));
  }
  audit->set_protocol(TLS1_2);
  if (!detailed_reason.empty()) audit->set_detailed_reason(std::move(detailed_reason));
  CorvelRaiseClusterEvent(AUDIT_COMPLIANCE_EVENT, details);
}

void CorvelGenSeEvent(std::string segroup_uuid, EventId event_id, std::string se_uuid,
                      std::string se_name) {
  EventDetails details;
  details.mutable_spawn_se_details()->set_se_name(std::move(se_name));
  EventApiInfo info;
  info.add_related_uuids(segroup_uuid);
  info.add_related_uuids(std::move(se_uuid));
  info.set_tenant(uuid_to_name(uuid_to_tenant(segroup_uuid)));
  CorvelRaiseEvent(SERVICEENGINEGROUP, segroup_uuid, event_id, details, &info, false);
}

void CorvelGenVcenterSlowAccess(std::string vcenter) {
  EventDetails details;
  details.mutable_vcenter_details()->set_vcenter(std::move(vcenter));
  EventApiInfo info = AdminInfo();
  CorvelRaiseClusterEvent(VCENTER_ACCESS_SLOW, details, &info);
}

void CorvelGenVcenterRoleError(std::string vcenter, std::string object, std::string user,
                               int num_objects) {
  EventDetails details;
  VinfraVcenterBadCredentials* vc = details.mutable_vcenter_details();
  vc->set_vcenter(std::move(vcenter));
  vc->set_user(std::move(user));
  vc->set_vcenter_object(std::move(object));
  vc->set_previous_count(num_objects);
  EventApiInfo info = AdminInfo();
  CorvelRaiseClusterEvent(VCENTER_USER_ROLE_CHANGE, details, &info);
}

void CorvelGenNetworkLimitReached(int current, int limit, std::string additional_reason) {
  EventDetails details;
  VinfraVcenterNetworkLimit* nw_limit = details.mutable_vcenter_network_limit();
  nw_limit->set_current(current);
  nw_limit->set_limit(limit);
  nw_limit->set_additional_reason(std::move(additional_reason));
  EventApiInfo info;
  CorvelRaiseClusterEvent(VCENTER_NETWQRK_OBJECT_LIMIT_REACHED, details, &info);
}

void CorvelVIGenEvent(const VITestEventGen& request) {
  Logger* logger = CorvelEventLogger();
  TRACE(logger, TRACE_LEVEL_DEBUG) << "VIGenEvent \n";
  EventId event_id;
  if (request.event_id() == 8) {
    event_id = VM_ADDED;
    TRACE(logger, TRACE_LEVEL_DEBUG) << " Generating Event VM_ADDED for VM : "
                                     << request.obj_uuid();
  } else if (request.event_id() == 9) {
    event_id = VM_REMOVED;
    TRACE(logger, TRACE_LEVEL_DEBUG) << " Generating Event VM_REMOVED for VM : "
                                     << request.obj_uuid();
  } else {
    return;
  }
  auto* txn = new Transaction();
  CorvelVMRuntime* vm_obj = nullptr;
  const bool found =
      CorvelInventoryRetrieveVMinDbview(txn, request.obj_uuid(), &vm_obj) == SYSERR_SUCCESS &&
      vm_obj != nullptr;
  txn->Abort(false);
  if (!found) {
    TRACE(logger, TRACE_LEVEL_DEBUG) << " Could not retrieve VM : " << request.obj_uuid();
    return;
  }
  // These events only mark a VM for the controller's own use: no details, the VM among the
  // related uuids, raised as internal.
  EventApiInfo info;
  info.add_related_uuids(request.obj_uuid());
  CorvelRaiseClusterEvent(event_id, EventDetails(), &info, true);
}
