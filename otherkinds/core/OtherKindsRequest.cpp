#include "otherkinds/core/OtherKindsRequest.h"

#include <pugixml.hpp>
#include <stdexcept>

#include "service/core/LogFileUnit.h"

namespace ostra {

void LogRequestReceived(const std::string& Request) {
    LogWrite("收到消息: \r\n" + Request);
}

pugi::xml_node ParseRequestRoot(pugi::xml_document& Document, const std::string& Request) {
    // As the door-lock handler reads its requests: comments and processing
    // instructions are kept, since they take child positions.
    const unsigned options = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                             pugi::parse_declaration | pugi::parse_doctype;
    const pugi::xml_parse_result result =
        Document.load_buffer(Request.data(), Request.size(), options, pugi::encoding_utf8);
    if (!result) throw std::runtime_error(result.description());
    const pugi::xml_node root = Document.document_element();
    if (!root) throw std::runtime_error("No root element");
    return root;
}

}  // namespace ostra
