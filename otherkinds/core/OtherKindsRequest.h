// What the handlers of interface kinds 2 to 4 share with the door-lock
// handler's frame: the log entry of a received request and the parsing of a
// request text into its root element.
#pragma once

#include <string>

namespace pugi {
class xml_document;
class xml_node;
}  // namespace pugi

namespace ostra {

// Logs "收到消息: ", CR LF and the request text as one entry.
void LogRequestReceived(const std::string& Request);

// Parses Request into Document and returns its root element. Throws
// std::runtime_error for a text the parser rejects or a document without a
// root element.
pugi::xml_node ParseRequestRoot(pugi::xml_document& Document, const std::string& Request);

}  // namespace ostra
