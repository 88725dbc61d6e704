// The per-thread status of the XML layer: the first failure wins until a reset.
#include <cstdio>
#include <cstring>
#include <string>

#include "qvr/testing/process_state_testing.h"
#include "qvr/xml/xml.h"
#include "qvr/xml/xml_internal.h"

namespace {

struct XmlState {
    int status = kXmlStatusGood;
    char message[256] = {};
    char subject[257] = {};
    char operation[257] = {};
    std::string error_text;
};

XmlState& state() {
    thread_local XmlState s;
    return s;
}

template <std::size_t N>
void copy_bounded(char (&to)[N], const char* text) {
    if (text == nullptr) text = "";
    std::snprintf(to, N, "%s", text);
}

}  // namespace

void qvr::testing::forget_xml_status() {
    state() = XmlState{};
}

namespace qvr::xml {

bool failed() {
    return state().status < 0;
}

void set_failure(int status, const char* format, ...) {
    XmlState& s = state();
    s.status = status;
    va_list args;
    va_start(args, format);
    std::vsnprintf(s.message, sizeof s.message, format, args);
    va_end(args);
}

}  // namespace qvr::xml

void xml_ResetStatus() {
    state().status = kXmlStatusGood;
    state().message[0] = '\0';
}

int xml_GetStatus() {
    return state().status;
}

void xml_SetStatus(int status, const char* message) {
    state().status = status;
    if (message != nullptr) copy_bounded(state().message, message);
}

void xml_SetSubject(const char* text) {
    copy_bounded(state().subject, text);
}

void xml_SetOperation(const char* text) {
    copy_bounded(state().operation, text);
}

const char* xml_GetErrorText() {
    XmlState& s = state();
    s.error_text.assign(s.subject);
    s.error_text.append(s.operation);
    s.error_text.append(" - ");
    s.error_text.append(s.message);
    return s.error_text.c_str();
}

const char* xml_GetMessage() {
    return state().message;
}
