// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/xml_tree.h"

#include <libxml/parser.h>

namespace platform::xml {

void InitialiseLibxml() {
    static const bool initialised = [] {
        xmlInitParser();
        return true;
    }();
    static_cast<void>(initialised);
}

std::string_view NameOf(const xmlNode *node) {
    return node->name ? reinterpret_cast<const char *>(node->name) : "";
}

bool IsElement(const xmlNode *node) {
    return node->type == XML_ELEMENT_NODE;
}

bool IsElement(const xmlNode *node, std::string_view name) {
    return IsElement(node) && NameOf(node) == name;
}

bool IsElementIn(const xmlNode *node, const NameSet &names) {
    return IsElement(node) && names.count(NameOf(node)) > 0;
}

const xmlChar *Xml(const char *text) {
    return reinterpret_cast<const xmlChar *>(text);
}

QString FromXml(const xmlChar *text) {
    return QString::fromUtf8(reinterpret_cast<const char *>(text));
}

bool HasAttribute(const xmlNode *element, const char *name) {
    return xmlHasProp(element, Xml(name)) != nullptr;
}

QString Attribute(const xmlNode *element, const char *name) {
    xmlChar *value = xmlGetNoNsProp(element, Xml(name));
    QString text = FromXml(value);
    xmlFree(value);
    return text;
}

QString LowerAttribute(const xmlNode *element, const char *name) {
    return Attribute(element, name).trimmed().toLower();
}

QString TextContent(const xmlNode *node) {
    xmlChar *content = xmlNodeGetContent(node);
    QString text = FromXml(content);
    xmlFree(content);
    return text;
}

QString UnixNewlines(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
}

bool IsLeadingNewlineOf(const xmlNode *text, const NameSet &keepers) {
    return text->parent && IsElementIn(text->parent, keepers) && text->parent->children == text;
}

QStringView WithoutLeadingNewline(QStringView text) {
    return text.startsWith(u'\n') ? text.mid(1) : text;
}

xmlNode *NextInOrder(const xmlNode *node, const xmlNode *root) {
    if (node->children)
        return node->children;
    for (; node && node != root; node = node->parent) {
        if (node->next)
            return node->next;
    }
    return nullptr;
}

xmlNode *RootOf(xmlDoc *document) {
    return document ? xmlDocGetRootElement(document) : nullptr;
}

xmlNode *ElementById(xmlNode *root, const QString &id) {
    if (!root || id.isEmpty())
        return nullptr;
    return FindElement(root, [&id](const xmlNode *node) { return Attribute(node, "id") == id; });
}

} // namespace platform::xml
