#pragma once
// The XML document layer under every configuration file: a thin procedural DOM whose error
// model is one status per thread. The first failing call sets the status (negative) and a
// message; every later call does nothing and returns its empty result (null, 0 or -1) until
// the status is reset. A loader or saver runs its whole sequence of calls and looks at the
// status once, at the end, where it reports xml_GetErrorText().
//
// Texts and names cross this interface as Windows-1252 bytes (record texts); the documents
// hold UTF-8. Texts returned by the layer are allocated with malloc: release them with free
// (qvr::XmlText does).
//
// Handles: every call that returns a node hands the caller one reference, given back with
// xml_ReleaseNode. Asking twice for the same node gives the same handle twice, with two
// references. A handle keeps its document's nodes alive, so a node stays valid after it is
// removed from the tree or after its document is loaded again; nodes that belong to no tree
// are freed when their last handle goes.
#include <cstdlib>
#include <memory>

struct XmlDocument;
struct XmlNode;

// Status codes (HRESULT-like: negative = failed).
inline constexpr int kXmlStatusGood = 0;
inline constexpr int kXmlStatusFileNotFound = static_cast<int>(0x800C0006u);
inline constexpr int kXmlStatusConversion = -1;                         // a text or name cannot be converted
inline constexpr int kXmlStatusFailed = static_cast<int>(0x80004005u);  // operation refused by the DOM
inline constexpr int kXmlStatusInvalidArgument = static_cast<int>(0x80070057u);
inline constexpr int kXmlStatusOutOfMemory = static_cast<int>(0x8007000Eu);
// A parse failure is kXmlStatusParseBase | the parser's own error number; a save failure
// kXmlStatusOsBase | errno.
inline constexpr unsigned kXmlStatusParseBase = 0x80580000u;
inline constexpr unsigned kXmlStatusOsBase = 0x80070000u;

// Text put in place of a text node whose text is not valid in XML.
inline constexpr const char* kXmlIllegalCharacters = "**** Illegal Characters in output stream ****";

// ---- Status (per thread) ----
void xml_ResetStatus();
int xml_GetStatus();
// Sets the status and the message (null: message unchanged), whatever the status was.
void xml_SetStatus(int status, const char* message);
// What is being handled (a file or folder) and what is being done ("Dev/Proc Config").
void xml_SetSubject(const char* text);
void xml_SetOperation(const char* text);
// Subject, operation, " - ", message, joined; per-thread buffer valid until the next call.
const char* xml_GetErrorText();
// The message alone (valid until the thread's status changes).
const char* xml_GetMessage();

// ---- Documents ----
// A new empty document; resets the status. Null only when memory runs out.
XmlDocument* xml_NewDocument();
// Replaces the document's content by the file's. 0 loaded; 1 file not found (status
// kXmlStatusFileNotFound, "Xml Load Failed (%s), File Not Found"); -1 any other failure,
// with the parser's first error ("line %d: ...") in the message. No network, no external
// entities, no DTD loading; whitespace-only text between elements is dropped.
int xml_LoadFile(XmlDocument* doc, const char* path);
// Writes the document as UTF-8 with a whole-file save (platform/file_save.h), so a failure
// leaves the old file whole. 0, or the failure status.
int xml_SaveFile(XmlDocument* doc, const char* path);
// The document element, or null ("No Root element found").
XmlNode* xml_GetRootElement(XmlDocument* doc);

// ---- Building ----
// A new element that belongs to no tree yet. "p:name" takes the namespace declared for p
// where the element is put.
XmlNode* xml_CreateElement(XmlDocument* doc, const char* name);
// Appends `child` (moved when it has a parent) to `parent`, or makes it the document's
// element. 0 / -1.
int xml_AppendChildToParent(XmlNode* child, XmlNode* parent);
int xml_AppendChildToParent(XmlNode* child, XmlDocument* doc);
// Creates and appends; the new element.
XmlNode* xml_AddChildElement(XmlDocument* doc, const char* name, XmlNode* parent);
// Creates an element and puts it in place of the parent's first child element of that
// name, or appends it when there is none; the new element.
XmlNode* xml_ReplaceOrAppendChild(XmlDocument* doc, const char* name, XmlNode* parent);
// Sets an attribute. "xmlns" and "xmlns:p" declare namespaces; "p:name" resolves p. 0 / -1.
int xml_CreateAndAddAttributeNode(XmlDocument* doc, const char* name, const char* value, XmlNode* element);
// Appends a text node; a text not valid in XML is replaced by kXmlIllegalCharacters. 0 / -1.
int xml_CreateAndAddTextNode(XmlDocument* doc, const char* text, XmlNode* parent);
// Append a comment / processing instruction to the document. The target "xml" sets the
// document's own declaration (version, encoding, standalone) instead. 0 / -1.
int xml_CreateAndAddCommentNode(XmlDocument* doc, const char* text);
int xml_CreateAndAddPINode(XmlDocument* doc, const char* target, const char* data);
int xml_CreateAndAddCDATANode(XmlDocument* doc, const char* text, XmlNode* parent);
// Puts `node` before `reference` (under reference's parent). 0 / -1.
int xml_InsertBefore(XmlNode* node, XmlNode* reference);
int xml_InsertTextBefore(XmlDocument* doc, const char* text, XmlNode* reference);
// Takes `child` out of `parent`; the child's handle stays valid. 0 / -1.
int xml_RemoveChild(XmlNode* parent, XmlNode* child);
// Tab indentation below `element` at `depth` (the root at 0). 0 / -1.
int xml_IndentTree(XmlDocument* doc, XmlNode* element, int depth);

// ---- Reading ----
// The first child element whose local name is `name` (or, for "p:name", whose namespace is
// the one p stands for); null when there is none (the status stays good).
XmlNode* xml_FindByName(XmlNode* parent, const char* name);
// The first child element `element` whose attribute equals `value`: a value that reads as
// a number compares as a number ("05" finds id="5"), any other as text.
XmlNode* xml_FindByAttribute(XmlNode* parent, const char* element, const char* attribute, const char* value);
XmlNode* xml_FirstChild(XmlNode* node);
XmlNode* xml_FirstChild(XmlDocument* doc);
XmlNode* xml_LastChild(XmlNode* node);
XmlNode* xml_LastChild(XmlDocument* doc);
XmlNode* xml_NextSibling(XmlNode* node);
XmlNode* xml_PreviousSibling(XmlNode* node);
// Allocated texts. Name: the qualified name ("#text", "#comment" ... for other nodes).
char* xml_getName(XmlNode* node);
// The text of the node's first text child; an allocated empty text when it has none.
char* xml_getText(XmlNode* node);
// The attribute's value, or null when the element has none of that name.
char* xml_getAttribute(XmlNode* element, const char* name);

// One child element of xml_IterateChan: both texts allocated.
struct XmlNameText {
    char* name;
    char* text;
};
// Name and text of each child element, at most `capacity`: the number filled, -1 when a
// child is not an element (nothing is left allocated then).
int xml_IterateChan(XmlNode* element, XmlNameText* pairs, int capacity);

// ---- Handles ----
void xml_ReleaseNode(XmlNode* node);
void xml_ReleaseNode(XmlDocument* doc);

namespace qvr {

struct XmlFree {
    void operator()(char* text) const { std::free(text); }
};
using XmlText = std::unique_ptr<char, XmlFree>;

struct XmlNodeRelease {
    void operator()(XmlNode* node) const { xml_ReleaseNode(node); }
    void operator()(XmlDocument* doc) const { xml_ReleaseNode(doc); }
};
using XmlNodeRef = std::unique_ptr<XmlNode, XmlNodeRelease>;
using XmlDocumentRef = std::unique_ptr<XmlDocument, XmlNodeRelease>;

}  // namespace qvr
