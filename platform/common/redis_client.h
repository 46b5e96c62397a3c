// Client of the datastore cache server. Controller services receive a pointer to it; this
// system passes an empty one and never calls it.
#pragma once

#include <memory>

class RedisClient {
 public:
  virtual ~RedisClient() = default;
};

using RedisClientPtr = std::shared_ptr<RedisClient>;
