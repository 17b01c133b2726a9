// vireo-manualpdf MANUAL.md OUT.pdf: typesets the user manual (Markdown with
// pictures beside it) into a PDF with Qt's own text engine.
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>
#include <string>

#include "filterhost/atomic_file.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vireo-manualpdf MANUAL.md OUT.pdf\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  QFile source(QString::fromLocal8Bit(argv[1]));
  if (!source.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const QString markdown = QString::fromUtf8(source.readAll());
  const QString folder = QFileInfo(source).absolutePath();

  // The PDF is made in memory and written through the atomic writer, so that
  // a failed run leaves no half-written manual behind.
  QByteArray pdf;
  QBuffer output(&pdf);
  output.open(QIODevice::WriteOnly);
  QPdfWriter writer(&output);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
  writer.setResolution(150);
  writer.setTitle(QStringLiteral("Vireo Video Player - Manual"));
  writer.setCreator(QStringLiteral("vireo-manualpdf"));

  QTextDocument document;
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSizeF(10);
  document.setDefaultFont(font);
  // Pictures named in the text are read from the manual's folder.
  static const QRegularExpression image(QStringLiteral(R"(!\[[^\]]*\]\(([^)]+)\))"));
  for (auto it = image.globalMatch(markdown); it.hasNext();) {
    const QString name = it.next().captured(1);
    QImage picture(folder + QLatin1Char('/') + name);
    if (picture.isNull()) {
      std::fprintf(stderr, "missing picture %s\n", qPrintable(name));
      return 1;
    }
    document.addResource(QTextDocument::ImageResource, QUrl(name), picture);
  }
  document.setMarkdown(markdown);
  document.print(&writer);
  std::string error;
  if (!fh::WriteFileAtomically(argv[2], pdf.constData(), static_cast<std::size_t>(pdf.size()), &error)) {
    std::fprintf(stderr, "cannot write %s: %s\n", argv[2], error.c_str());
    return 1;
  }
  return 0;
}
