// Names and tenants of stored objects, found from an object's uuid alone.
//
// A uuid starts with the kind of its object: "cloud-1a2b...", "tenant-...",
// "serviceenginegroup-...". That prefix, up to the first "-", is the datastore table of the
// object's configuration record. vCenter inventory objects (uuid = managed object reference
// "kind-number" + "-" + cloud uuid) are found under the connector's runtime tables instead:
// "datacenter" -> corveldc, "domain" -> corvelcluster, "host" -> corvelhost, "vm" -> corvelvm,
// "network" and "dvportgroup" -> corvelnw.
//
// Fields are read by reflection from the configuration half of the committed object, else from
// its runtime half. Both functions read Datastore::g_db_ outside any transaction and return ""
// when there is no datastore, the uuid has no kind prefix, or the object or field is absent.
#pragma once

#include <string>

// The `name` of the object with this uuid, or "".
std::string uuid_to_name(const std::string& uuid);

// The uuid of the tenant the object with this uuid belongs to: its `tenant_uuid` field, else its
// `tenant_ref` field; "" when neither is set.
std::string uuid_to_tenant(const std::string& uuid);
