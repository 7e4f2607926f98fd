#pragma once
// Test hook: named moments of a run at which a test has the process die at once, so that
// what is left on disk is exactly what a crash at that moment leaves. The process raises
// SIGKILL at the point whose name the environment variable VANTREL_TEST_CRASH_AT holds;
// without the variable (every real installation) a point does nothing. The kill-and-resume
// tests of `vantrel-cli serve` set it.
//
// Points: "download-digest-verdict" (a file's MD5 matched), "download-unpacked" (its
// unpacked files are in the extraction folder), "download-finished" (its block state says
// complete), "download-moving" (the first of several unpacked files moved into place),
// "download-delivered" (a file is in place, its row does not say so yet),
// "download-recorded" (its row says so, its block state is still there), "upload-confirmed"
// (the gateway confirmed a file's MD5), "upload-marked-sent" (the file's row says sent, the
// file is not moved yet).

#include <string_view>

namespace vantrel::execution {

// Any thread.
void crashPoint(std::string_view name);

}  // namespace vantrel::execution
