// vantrel-manual-pdf MARKDOWN PDF: renders the operator's manual (Markdown, UTF-8) to the
// PDF the client's 用户手册 command opens, with Qt's own Markdown reader and PDF writer.
// Run at build time on the offscreen platform. Exit code 0 written, 1 failed (reason on
// stderr); the PDF is replaced whole, so a failed run never leaves half a manual.

#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: vantrel-manual-pdf MARKDOWN PDF\n");
        return 1;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "vantrel-manual-pdf: cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument document;
    // The CJK face Debian's fonts-noto-cjk installs; Qt falls back to another if absent.
    QFont font(QStringLiteral("Noto Sans CJK SC"), 11);
    document.setDefaultFont(font);
    document.setDocumentMargin(0);
    document.setDefaultStyleSheet(QStringLiteral("table { border-collapse: collapse; }"));
    document.setMarkdown(QString::fromUtf8(source.readAll()));

    QSaveFile target(QString::fromLocal8Bit(argv[2]));
    if (!target.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "vantrel-manual-pdf: cannot write %s\n", argv[2]);
        return 1;
    }
    {
        QPdfWriter writer(&target);
        writer.setTitle(QString::fromUtf8("DRAV信箱文件交换工具 用户手册"));
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter));
        document.print(&writer);
    }
    if (!target.commit()) {
        std::fprintf(stderr, "vantrel-manual-pdf: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
