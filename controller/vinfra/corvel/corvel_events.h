// The controller events that the connector raises, one free function per kind of event.
//
// Each function fills one sub-message of an EventDetails and raises exactly one event of the
// CORVEL module on the worker's event channel (or none, where its comment says so). Unless a
// comment says otherwise the event is on the controller cluster (object type CLUSTER, the
// service's controller uuid), carries no extra info and is not internal. Nothing is reported
// back: without an event channel (or, for controller-cluster events, without the service) the
// event is dropped with a log line. Password arguments are never placed in an event.
#pragma once

#include <string>
#include <vector>

#include "proto/corvel_enums.pb.h"
#include "proto/corvel_runtime.pb.h"
#include "proto/corvel_service.pb.h"
#include "proto/event_id.pb.h"
#include "proto/events.pb.h"

class EventApi;
class Transaction;

// Discovery progress: `event_id` 1001..1005 (datacenters, hosts, clusters, VMs, networks) with
// `num_objs` as the matching count of the vCenter's summary. Any other id raises nothing.
// `txn` is not used.
void CorvelGenDiscProgressEvent(Transaction* txn, std::string vcenter_uuid, EventId event_id,
                                int num_objs);

// VINFRA_DISC_COMPLETE with the record's uuid and object counts. `txn` is not used; a null
// record raises nothing.
void CorvelGenDiscCompleteEvent(Transaction* txn, CorvelVcenterRuntime* vcenter_obj);

// VCENTER_BAD_CREDENTIALS for `username` at `vcenter`.
void CorvelGenVcenterBadCredentials(std::string vcenter, std::string username,
                                    std::string password);

// VCENTER_VERSION_NOT_SUPPORTED for `username` at `vcenter`, named `vcenter_name`.
void CorvelGenVcenterVerMismatch(std::string vcenter, std::string username, std::string password,
                                 std::string vcenter_name);

// VCENTER_ADDRESS_ERROR for `vcenter`.
void CorvelGenVcenterAddressError(std::string vcenter);

// ESX_HOST_UNREACHABLE listing the hosts, in order (an empty list gives the vCenter only).
void CorvelGenVcenterUnreachableHosts(std::string vcenter, std::vector<std::string> host_list);

// MGMT_NW_NAME_CHANGED: the management network `existing_nw` is now named `new_nw`.
void CorvelGenMgmtNwChangeEvent(std::string vcenter, std::string existing_nw, std::string new_nw);

// `event_id` (DISCOVERY_DATACENTER_DEL or MGMT_NW_DEL): the vCenter object `name` was deleted.
void CorvelGenVcenterConfigDelEvent(EventId event_id, std::string vcenter, std::string name);

// `event_id` (SE_GROUP_CLUSTER_DEL, SE_GROUP_MGMT_NW_DEL, SE_GROUP_HOST_DEL) on the SE group
// `se_group_uuid`: the vCenter object `name` it refers to was deleted.
void CorvelGenSeGroupConfigDelEvent(std::string se_group_uuid, EventId event_id,
                                    std::string vcenter, std::string name);

// VINFRA_DISC_FAILURE: discovery of `vcenter` failed in `state`.
void CorvelGenDiscFailureEvent(std::string vcenter, std::string state);

// `event_id` (ESX_HOST_POWERED_DOWN) on the host `host_uuid`, with `event_info` as given (not
// owned; may be null), raised as internal.
void CorvelGenEsxHostPoweredDown(std::string host_uuid, EventId event_id,
                                 EventApiInfo* event_info, std::string vcenter, std::string name);

// VCENTER_CONNECTIVITY_SUCCESS when `state` is true, VCENTER_CONNECTIVITY_FAIL otherwise.
void CorvelGenVcenterConnectivity(std::string vcenter, std::string datacenter, std::string cloud,
                                  bool state);

// AUDIT_COMPLIANCE_EVENT (invalid credentials over TLS 1.2) when `status` is
// CORVEL_BAD_CREDENTIALS; any other status raises nothing. Empty `username`, `vcenter_url` or
// `detailed_reason` are left out of the event.
void CORVELGenAuthFailure(CORVEL_STATUS status, std::string detailed_reason,
                          std::string username, std::string vcenter_url);

// `event_id` on the SE group `segroup_uuid` for the SE `se_name`; related to the group and the
// SE, in the tenant named after the group's tenant.
void CorvelGenSeEvent(std::string segroup_uuid, EventId event_id, std::string se_uuid,
                      std::string se_name);

// VCENTER_ACCESS_SLOW for `vcenter`, in the tenant "admin".
void CorvelGenVcenterSlowAccess(std::string vcenter);

// VCENTER_USER_ROLE_CHANGE: `user` lost access to `num_objects` objects of kind `object`; in the
// tenant "admin".
void CorvelGenVcenterRoleError(std::string vcenter, std::string object, std::string user,
                               int num_objects);

// VCENTER_NETWQRK_OBJECT_LIMIT_REACHED with the network count, the limit and the reason; with
// an empty info.
void CorvelGenNetworkLimitReached(int current, int limit, std::string additional_reason);

// The body of the test RPC VIGenEvent: for event ids 8 (VM_ADDED) and 9 (VM_REMOVED) reads the
// VM record `obj_uuid` and, when it exists, raises that internal event with the VM among the
// related uuids; any other id does nothing. The caller completes the RPC.
void CorvelVIGenEvent(const VITestEventGen& request);

// Tests only: the event channel used instead of the worker's while set (not owned; null
// restores the worker's).
void CorvelSetEventApiForTest(EventApi* event_api);
