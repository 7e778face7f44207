// The call record and the fault switches of the simulated machine.
//
// Each service asks SimFault first, so that a fault injected for its n-th
// occurrence lands before it touches anything, and calls SimRecord last,
// with its arguments as text. The record holds only calls made while a
// machine is loaded; the string services alone make thousands of entries
// in a run, so an entry is one small vector and nothing else.
#include <cstdio>
#include <map>
#include <string_view>
#include <unistd.h>

#include "core/core.h"
#include "sim.h"

namespace {

struct Fault {
    std::string name;
    int occurrence;  // 0: every call
    long error;
};

std::vector<SimCall> g_calls;
std::map<std::string, int, std::less<>> g_callCounts;  // found by a name's bytes, no copy
std::vector<Fault> g_faults;
long g_lastError = 0;
int g_restarts = 0;
void (*g_onRestart)() = nullptr;
long g_actionAt = 0;
void (*g_action)() = nullptr;
void (*g_observer)(const SimCall &) = nullptr;

// Printable form of a recorded argument: control bytes escaped, so that
// written lines show their CR LF.
std::string Printable(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else
            out += (char)c;
    }
    return out;
}

}  // namespace

bool SimFault(const char *name, long *error)
{
    auto counted = g_callCounts.find(std::string_view(name));
    if (counted != g_callCounts.end())
        counted->second++;
    else
        g_callCounts.emplace(name, 1);
    for (const Fault &fault : g_faults) {
        // "A|B": the calls of A and B counted together.
        int occurrence = 0;
        bool named = false;
        for (size_t start = 0; start <= fault.name.size();) {
            size_t end = fault.name.find('|', start);
            end = end == std::string::npos ? fault.name.size() : end;
            std::string_view each = std::string_view(fault.name).substr(start, end - start);
            named = named || each == name;
            auto count = g_callCounts.find(each);
            occurrence += count == g_callCounts.end() ? 0 : count->second;
            start = end + 1;
        }
        if (named && (fault.occurrence == 0 || fault.occurrence == occurrence)) {
            *error = fault.error;
            return true;
        }
    }
    return false;
}

void SimRecord(const char *name, std::vector<std::string> args, long result)
{
    if (!SimMachine().loaded)
        return;
    g_calls.push_back(SimCall{name, std::move(args), result});
    if (g_observer)
        g_observer(g_calls.back());
    if (g_action && (long)g_calls.size() == g_actionAt) {
        void (*action)() = g_action;
        g_action = nullptr;
        action();
    }
}

void SimAfterCall(long n, void (*action)())
{
    g_actionAt = n;
    g_action = n > 0 ? action : nullptr;
}

void SimObserveCalls(void (*observer)(const SimCall &call))
{
    g_observer = observer;
}

void SimStopProcess()
{
    std::fflush(nullptr);
    _exit(SIM_STOPPED);
}

std::string SimArgText(const char *text)
{
    return text ? std::string(text) : std::string("NULL");
}

std::string SimKeyText(HKEY key)
{
    static const struct {
        HKEY key;
        const char *name;
    } predefined[] = {
        {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
        {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
        {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
        {HKEY_USERS, "HKEY_USERS"},
        {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
    };
    for (const auto &entry : predefined) {
        if (entry.key == key)
            return entry.name;
    }
    if (!key)
        return "NULL";
    return "hkey#" + std::to_string((unsigned long long)(UINT_PTR)key);
}

std::string SimNumberText(long long n)
{
    return std::to_string(n);
}

BOOL SimBooleanResult(const char *name, const std::vector<std::string> &args, long error)
{
    BOOL result = error == ERROR_SUCCESS;
    if (!result)
        SimSetLastError(error);
    SimRecord(name, args, result);
    return result;
}

void SimSetLastError(long error)
{
    g_lastError = error;
}

long SimLastError()
{
    return g_lastError;
}

DWORD WINAPI GetLastError(void)
{
    long error = g_lastError;
    SimRecord("GetLastError", {}, error);
    return (DWORD)error;
}

const std::vector<SimCall> &SimCalls()
{
    return g_calls;
}

std::vector<SimCall> SimTakeCalls()
{
    return std::move(g_calls);
}

void SimClearCalls()
{
    g_calls.clear();
    g_callCounts.clear();
}

std::vector<SimCall> SimCallsNamed(const std::string &name)
{
    std::vector<SimCall> named;
    for (const SimCall &call : g_calls) {
        if (call.name == name)
            named.push_back(call);
    }
    return named;
}

std::string SimFormatCalls(const std::vector<SimCall> &calls)
{
    std::string text;
    for (const SimCall &call : calls) {
        text += call.name + "(";
        for (size_t i = 0; i < call.args.size(); i++) {
            if (i)
                text += ", ";
            text += Printable(call.args[i]);
        }
        text += ") = " + std::to_string(call.result) + "\n";
    }
    return text;
}

void SimFailCall(const std::string &name, int occurrence, long error)
{
    g_faults.push_back(Fault{name, occurrence, error});
}

void SimClearFaults()
{
    g_faults.clear();
}

int SimRestartRequests()
{
    return g_restarts;
}

void SimNoteRestart()
{
    g_restarts++;
    if (g_onRestart)
        g_onRestart();
}

void SimOnRestart(void (*action)())
{
    g_onRestart = action;
}

// Forgets what the record and the faults hold, for load and unload.
void SimResetRecord()
{
    SimClearCalls();
    SimClearFaults();
    g_lastError = 0;
    g_restarts = 0;
    g_action = nullptr;
    g_observer = nullptr;
}
