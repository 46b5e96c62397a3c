#include "controller/vinfra/corvel/corvel_config_watchers.h"

#include <glog/logging.h>

#include "controller/vinfra/corvel/corvel_globals.h"
#include "controller/vinfra/corvel/corvel_service_impl.h"

CloudObject::~CloudObject() {
  auto it = CloudObjects::g_cloud_objs.find(index().key());
  if (it != CloudObjects::g_cloud_objs.end() && it->second == this) {
    CloudObjects::g_cloud_objs.erase(it);
  }
}

Syserr CloudObjects::StartMonitoring(DbCache* cache) {
  g_cloud_objs.clear();
  const std::string table = db_table_name_from_pb(Cloud::descriptor()->name());
  cache->object_factory()->RegisterRestoreCallback(
      table, [](const DbIndex& index, const google::protobuf::Message* cfg,
                const google::protobuf::Message* rt) -> std::unique_ptr<DbCachedObject> {
        auto obj = std::make_unique<CloudObject>(index, cfg, rt);
        g_cloud_objs.emplace(index.key(), obj.get());  // an existing entry stays
        return obj;
      });
  // A deleted cloud leaves the map when the cache destroys its object.
  Syserr err = cache->CreateCache(table, false, true);
  const std::string ipam = db_table_name_from_pb(IpamDnsProviderProfile::descriptor()->name());
  Syserr ipam_err = cache->CreateCache(ipam, false, true);
  return err != SYSERR_SUCCESS ? err : ipam_err;
}

void SysconfChange_cb(SysConfObject* sysconf) {
  CorvelServiceImpl* svc = CorvelGlobals::corvel_service();
  TRACE(svc != nullptr ? svc->logger() : nullptr, TRACE_LEVEL_DEBUG) << "SysconfChange_cb" << ":";
  if (svc == nullptr) return;
  svc->UpdateVcenterRuntimeStatus(sysconf);
  svc->SysconfChangeCheckHostConnectivity();
}

void ClusterChange_cb(ClusterObject* cluster) {
  CorvelServiceImpl* svc = CorvelGlobals::corvel_service();
  TRACE(svc != nullptr ? svc->logger() : nullptr, TRACE_LEVEL_DEBUG) << "ClusterChange_cb" << ":";
  if (svc != nullptr) svc->UpdateClusterIpAddr(cluster);
}

void ImageChange_cb(ImageObject* image) {
  CorvelServiceImpl* svc = CorvelGlobals::corvel_service();
  TRACE(svc != nullptr ? svc->logger() : nullptr, TRACE_LEVEL_DEBUG) << "ImageChange_cb" << ":";
  if (svc != nullptr) svc->HandleImageTableChanges(image);
}
