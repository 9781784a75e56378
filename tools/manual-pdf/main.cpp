// manual-pdf: turns the user manual's Markdown source into the PDF shipped beside
// the program, with Qt's own text layout (no extra document tool needed). Pictures
// are read beside the source (docs/images/...) and shrunk to the page's width.
//   manual-pdf SOURCE.md OUTPUT.pdf
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <cstdio>

namespace {
// The text's width on an A4 page within 20 mm margins, in the layout's 96 dpi pixels.
constexpr double pageTextWidth = 170 / 25.4 * 96;

// Reads every picture the text names, from beside the source, into the document, and
// shrinks the wide ones to the page. Handed over as images, since the printing reads
// no other form of them; false when one cannot be read.
bool loadPictures(QTextDocument& document, const QString& folder)
{
    struct Picture {
        int position, length;
        QTextImageFormat format;
    };
    QList<Picture> pictures;  // changed after the walk, which a change would disturb
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                pictures.append({it.fragment().position(), it.fragment().length(), it.fragment().charFormat().toImageFormat()});
    for (Picture& picture : pictures) {
        const QImage image(folder + QLatin1Char('/') + picture.format.name());
        if (image.isNull()) {
            std::fprintf(stderr, "manual-pdf: cannot read the picture %s\n", qPrintable(picture.format.name()));
            return false;
        }
        document.addResource(QTextDocument::ImageResource, QUrl(picture.format.name()), image);
        if (image.width() <= pageTextWidth)
            continue;
        picture.format.setWidth(pageTextWidth);
        picture.format.setHeight(pageTextWidth * image.height() / image.width());
        QTextCursor cursor(&document);
        cursor.setPosition(picture.position);
        cursor.setPosition(picture.position + picture.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(picture.format);
    }
    return true;
}
}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: manual-pdf SOURCE.md OUTPUT.pdf\n");
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "manual-pdf: cannot read %s\n", argv[1]);
        return 1;
    }
    QTextDocument document;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(10);
    document.setDefaultFont(font);
    document.setDefaultStyleSheet(QStringLiteral("table { border-collapse: collapse; } td, th { padding: 3px; }"));
    document.setMarkdown(QString::fromUtf8(source.readAll()));
    if (!loadPictures(document, QFileInfo(source).absolutePath()))
        return 1;

    QPdfWriter pdf(QString::fromLocal8Bit(argv[2]));
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    pdf.setTitle(QStringLiteral("QuorlinVCP User Manual"));
    pdf.setCreator(QStringLiteral("QuorlinVCP"));
    document.print(&pdf);
    return 0;
}
