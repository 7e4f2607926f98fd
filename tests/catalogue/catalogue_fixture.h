#pragma once
// A temporary installation root with the shipped templates in localconfig/, a fake clock,
// recorded notices and real logs, for the catalogue tests.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "client/base/context.h"
#include "client/base/logs.h"
#include "client/catalogue/table_schema.h"
#include "platform/files.h"
#include "platform/text_codec.h"
#include "tests/catalogue/table_bytes.h"
#include "tests/support/local_time.h"
#include "tests/support/temp_dir.h"

namespace vantrel::testing {

class CatalogueFixture : public ::testing::Test {
  protected:
    CatalogueFixture()
        : clock_(platform::fromLocalTime(localTime(2026, 12, 8, 9, 30, 0))),
          installation_(dir_.path() / "root", dir_.path() / "run"),
          logs_(installation_, clock_, notifier_) {
        std::filesystem::create_directories(installation_.localconfig());
        std::filesystem::create_directories(installation_.log());
        std::filesystem::create_directories(dir_.path() / "run");
        for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates())
            installTemplate(*spec);
        context_.installation = installation_;
        context_.clock = &clock_;
        context_.notifier = &notifier_;
        context_.logs = &logs_;
    }

    void installTemplate(const catalogue::TableSpec& spec) {
        writeBytes(installation_.localconfig() / spec.fileName,
                   catalogue::BuildTableBytes(spec, localTime(2026, 1, 1)));
    }

    // The task log's text in UTF-8.
    std::string logText(const std::filesystem::path& path) const {
        return platform::gbkToUtf8Lossy(readBytes(path));
    }

    template <class Event>
    std::vector<Event> eventsOf() const {
        std::vector<Event> out;
        for (const auto& e : notifier_.events()) {
            if (const Event* p = std::get_if<Event>(&e)) out.push_back(*p);
        }
        return out;
    }

    TempDir dir_;
    platform::FakeClock clock_;
    Installation installation_;
    RecordingNotifier notifier_;
    Logs logs_;
    Context context_;
};

}  // namespace vantrel::testing
