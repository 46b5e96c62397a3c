// SE software versions and their image packages, read from the controller's Image and
// ServiceEngineGroup records (outside any transaction, through Datastore::g_db_).
#pragma once

#include <set>
#include <string>

// The SE versions the controller has images for: the build tag of every Image whose se_info has
// a build with a version.
std::set<std::string> get_active_versions();

// The SE package path of `version` (se_info.path of the Image whose build tag is `version`), or
// "None" when no image has that version or it has no path.
std::string get_image_path(const std::string& version);

// The SE version of an SE group: its se_version, or, when the group sets none (or does not
// exist), the newest active version; "" when there is none either.
std::string SeGroupVersion(const std::string& se_grp_uuid);
