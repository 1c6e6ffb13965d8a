#pragma once
// The script that every JSON document's engine runs first: get__count, and a
// JSON serialiser and parser for engines that have none (the Script Control's
// JScript is ES3: no JSON object, no Object.keys, no Array.prototype.indexOf).

#include <string_view>

namespace qx {

// One line of ASCII. It defines, in this order: get__count; a global JSON
// object when there is none; Date/String/Number/Boolean toJSON, JSON.stringify
// and JSON.parse, each only where missing; and the two enumerable methods
// toJSONString and parseJSON on Object.prototype (for-in loops visit them
// after an object's own members, which get__count and keys allow for).
//
// JSON.parse only evaluates a text that its validation has reduced to JSON
// punctuation, so a text that is not JSON is never run; it throws a
// SyntaxError "JSON.parse" instead.
extern const std::string_view JsonSupportScript;

}  // namespace qx
