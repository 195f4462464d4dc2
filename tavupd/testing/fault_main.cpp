// Entry of tavupd_fault.exe, the fault build: TAVUPD.EXE on the fault table.
//
// TAVUPD_FAULT_CALL=k makes the k-th platform call fail;
// TAVUPD_KILL_AT_CALL=k ends the run abruptly at the k-th call, as a power
// cut at that point would; TAVUPD_CALL_COUNT_FILE names a file that
// receives the number of calls the run made, TAVUPD_CALL_TRACE_FILE one
// that receives a line per call: its number and its name. The files are
// written with the plain C library on purpose: the hook's own calls must
// neither be counted nor be hit by the armed fault. TAVUPD_OUTCOME_FILE
// names a file that receives what the run did, in the lines of the preview
// report (TAVUPD.EXE -n), so that a test compares a preview with the run.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/run.h"
#include "engine/preview.h"
#include "testing/fault.h"

namespace {

std::FILE *callTrace = nullptr;

void traceCall(fault::Call call, unsigned long number) {
    std::fprintf(callTrace, "%lu %s\n", number, fault::callName(call));
    std::fflush(callTrace);
}

// The positive number in the environment variable, or 0.
unsigned long numberIn(const char *name) {
    const char *k = std::getenv(name);
    if (!k) return 0;
    char *end = nullptr;
    const unsigned long n = std::strtoul(k, &end, 10);
    return end != k && *end == '\0' ? n : 0;
}

void writeCallCount(const std::string &file) {
    std::FILE *f = std::fopen(file.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "%lu\n", fault::callCount());
    std::fclose(f);
}

} // namespace

int main(int argc, char **argv) {
    if (const char *file = std::getenv("TAVUPD_CALL_TRACE_FILE")) {
        if (*file && (callTrace = std::fopen(file, "w")) != nullptr) fault::setCallObserver(traceCall);
    }
    if (const unsigned long k = numberIn("TAVUPD_FAULT_CALL")) fault::failNthCall(k);
    if (const unsigned long k = numberIn("TAVUPD_KILL_AT_CALL")) fault::killAtNthCall(k);
    const char *countFile = std::getenv("TAVUPD_CALL_COUNT_FILE");
    const std::string count = countFile ? countFile : "";

    const char *outcomeFile = std::getenv("TAVUPD_OUTCOME_FILE");
    preview::Report record("TAVUPD.DAT");
    const bool recording = outcomeFile && *outcomeFile;
    const int status = app::run(argc, argv, fault::faultCalls(), recording ? &record : nullptr);
    if (!count.empty()) writeCallCount(count);
    if (recording) {
        if (std::FILE *f = std::fopen(outcomeFile, "w")) {
            std::fputs(record.text().c_str(), f);
            std::fclose(f);
        }
    }
    return status;
}
