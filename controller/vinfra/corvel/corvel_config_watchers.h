// Cached views of the controller configuration tables the connector follows: the system
// configuration, the controller cluster, SE images and clouds (with their IPAM/DNS profiles).
//
// Each StartMonitoring clears its global object, stores the change callback, registers the
// table's restore callback with the cache's object factory and asks the cache to watch the
// table. The cache owns the objects; the globals only point at them and are cleared when their
// object is deleted.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/datastore/db_cache.h"
#include "proto/config.pb.h"

// A cached configuration record of type Cfg.
template <typename Cfg>
class ConfigObject : public DbCachedObject {
 public:
  using DbCachedObject::DbCachedObject;
  // The record, or an empty one when the cached half is not a Cfg.
  const Cfg& config() const {
    const auto* c = dynamic_cast<const Cfg*>(cfg());
    return c != nullptr ? *c : Cfg::default_instance();
  }
};

// A table with one object of interest (the first restored), kept in Derived::global_slot(),
// whose committed updates run the change callback given to StartMonitoring.
template <typename Derived, typename Cfg>
class SingleConfigObject : public ConfigObject<Cfg> {
 public:
  using ChangeCb = std::function<void(Derived*)>;
  using ConfigObject<Cfg>::ConfigObject;
  ~SingleConfigObject() override { Release(); }

  static Syserr StartMonitoring(DbCache* cache, ChangeCb cb) {
    Derived::global_slot() = nullptr;
    callback() = std::move(cb);
    const std::string table = db_table_name_from_pb(Cfg::descriptor()->name());
    cache->object_factory()->RegisterRestoreCallback(
        table, [](const DbIndex& index, const google::protobuf::Message* cfg,
                  const google::protobuf::Message* rt) -> std::unique_ptr<DbCachedObject> {
          auto obj = std::make_unique<Derived>(index, cfg, rt);
          if (Derived::global_slot() == nullptr) Derived::global_slot() = obj.get();
          return obj;
        });
    return cache->CreateCache(table, false, true);
  }

  void OnUpdate(const google::protobuf::Message* cfg,
                const google::protobuf::Message* runtime) override {
    DbCachedObject::OnUpdate(cfg, runtime);
    if (callback()) callback()(static_cast<Derived*>(this));
  }
  void OnDelete() override { Release(); }

 private:
  void Release() {
    if (Derived::global_slot() == this) Derived::global_slot() = nullptr;
  }
  static ChangeCb& callback() {
    static ChangeCb cb;
    return cb;
  }
};

class SysConfObject : public SingleConfigObject<SysConfObject, SystemConfiguration> {
 public:
  using SingleConfigObject::SingleConfigObject;
  static inline SysConfObject* g_sysconf_obj_ = nullptr;
  static SysConfObject*& global_slot() { return g_sysconf_obj_; }
};

class ClusterObject : public SingleConfigObject<ClusterObject, Cluster> {
 public:
  using SingleConfigObject::SingleConfigObject;
  static inline ClusterObject* g_cluster_obj_ = nullptr;
  static ClusterObject*& global_slot() { return g_cluster_obj_; }
};

class ImageObject : public SingleConfigObject<ImageObject, Image> {
 public:
  using SingleConfigObject::SingleConfigObject;
  static inline ImageObject* g_image_obj_ = nullptr;
  static ImageObject*& global_slot() { return g_image_obj_; }
};

// A cached cloud; leaves CloudObjects::g_cloud_objs when destroyed.
class CloudObject : public ConfigObject<Cloud> {
 public:
  using ConfigObject::ConfigObject;
  ~CloudObject() override;
};

// The cached clouds by uuid (the key of their datastore index), and the cached IPAM/DNS
// provider profiles.
class CloudObjects {
 public:
  static Syserr StartMonitoring(DbCache* cache);
  static inline std::map<std::string, CloudObject*> g_cloud_objs;
};

// The change callbacks registered by the connector's service: each traces its name and hands
// the object to the process's connector service, if there is one.
void SysconfChange_cb(SysConfObject* sysconf);
void ClusterChange_cb(ClusterObject* cluster);
void ImageChange_cb(ImageObject* image);
