#pragma once
// Qt's own texts and formats in Chinese, for the client and the updater alike: the shipped
// qtbase translation, the Chinese locale (dates, "字节" in file dialogs) and the few texts
// the shipped translation lacks (the file dialog's type column). Header-only so that the
// updater, which links no client window code, shares it.

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>
#include <QTranslator>
#include <cstring>

namespace vantrel::ui {

// Answers only what the shipped translation leaves in English.
class MissingQtTexts final : public QTranslator {
  public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char* = nullptr,
                      int = -1) const override {
        if (std::strcmp(context, "QAbstractFileIconProvider") != 0) return {};
        static const struct {
            const char* source;
            const char* text;
        } texts[] = {
            {"Folder", "文件夹"}, {"File", "文件"}, {"Drive", "驱动器"}, {"%1 File", "%1 文件"}};
        for (const auto& t : texts) {
            if (std::strcmp(source, t.source) == 0) return QString::fromUtf8(t.text);
        }
        return {};
    }
};

// False when the shipped qtbase translation is not installed (the rest still applies).
inline bool installChineseQt(QCoreApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    QCoreApplication::installTranslator(new MissingQtTexts(&app));
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

}  // namespace vantrel::ui
