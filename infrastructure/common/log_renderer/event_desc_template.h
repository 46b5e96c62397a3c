// Applying an event_desc template of the event schema to one event detail message.
#pragma once

#include <google/protobuf/message.h>

#include <string>

namespace kyv::infra::log {

// The text of `tmpl` applied to `details`. A template is a quoted printf-style format and its
// arguments, as in "'Pool %s is down' % (pb.pool)" or "'Pool %s is up' % pb.pool":
//
//  - without any of "%s", "%d", "%.1f", "%.1d", "%(" and "% (" the template is returned as it
//    is, quotes included;
//  - the format is the text between the first two single quotes; "%s", "%d" and "%.1d" become
//    "{}", "%.1f" becomes "{:.1f}";
//  - the arguments are the text between the first "(" after the format and the last ")",
//    split at every ","; without such a "(" the one argument is what follows the first "%"
//    after the format. Each, trimmed, is a field path read with get_field_value;
//  - a "{:.1f}" argument is its text read as a number; the others are used as text.
//
// When the template cannot be applied (no quoted format, no argument part, too few arguments,
// a "{:.1f}" argument that is not a number, a brace in the format) the line
// "[Error] when proceesing event_desc: <reason>" goes to standard output and the reason is
// returned in place of the text.
std::string process_event_desc_str(const google::protobuf::Message* details,
                                   const std::string& tmpl);

}  // namespace kyv::infra::log
