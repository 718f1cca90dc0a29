// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Reading and walking libxml2 trees: the names, attributes and text of nodes,
// and traversal in document order without recursion, since pages can nest
// deeper than any stack.

#include <QString>
#include <QStringView>
#include <libxml/tree.h>
#include <string_view>
#include <unordered_set>

namespace platform::xml {

// Sets libxml2 up once for the whole program; every parse on any thread calls
// it first, since documents are read on worker threads.
void InitialiseLibxml();

using NameSet = std::unordered_set<std::string_view>;

std::string_view NameOf(const xmlNode *node);
bool IsElement(const xmlNode *node);
bool IsElement(const xmlNode *node, std::string_view name);
bool IsElementIn(const xmlNode *node, const NameSet &names);

const xmlChar *Xml(const char *text);
QString FromXml(const xmlChar *text);

bool HasAttribute(const xmlNode *element, const char *name);
// The attribute's value; empty when it is absent.
QString Attribute(const xmlNode *element, const char *name);
QString LowerAttribute(const xmlNode *element, const char *name);
QString TextContent(const xmlNode *node);

// Line breaks as "\n" alone.
QString UnixNewlines(QString text);
// The parser keeps the line break that follows <pre> and <textarea>; browsers
// drop it. True for the text node that starts such an element of keepers.
bool IsLeadingNewlineOf(const xmlNode *text, const NameSet &keepers);
QStringView WithoutLeadingNewline(QStringView text);

// The node after node in document order, staying below root.
xmlNode *NextInOrder(const xmlNode *node, const xmlNode *root);

template <typename Predicate> xmlNode *FindElement(xmlNode *root, Predicate matches) {
    for (xmlNode *node = root; node; node = NextInOrder(node, root)) {
        if (IsElement(node) && matches(node))
            return node;
    }
    return nullptr;
}

xmlNode *RootOf(xmlDoc *document);
xmlNode *ElementById(xmlNode *root, const QString &id);

// Calls visitor.enter for the nodes below root in document order; its children
// are visited when it returns true, and visitor.leave follows them.
template <typename Visitor> void Walk(const xmlNode *root, Visitor &visitor) {
    const xmlNode *node = root->children;
    while (node) {
        if (visitor.enter(node)) {
            if (node->children) {
                node = node->children;
                continue;
            }
            visitor.leave(node);
        }
        while (!node->next) {
            node = node->parent;
            if (!node || node == root)
                return;
            visitor.leave(node);
        }
        node = node->next;
    }
}

} // namespace platform::xml
