// The Qt text boundary: UTF-8 in, UTF-8 out, through the text layer's own converters.
#include "components/qt_test_support.h"
#include "components/qt_text.h"

#include <QTest>
#include <string>

using namespace kelvara;

class TQtTextTest : public QObject {
    Q_OBJECT
private slots:
    void RoundTrip_data() {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<int>("units");
        QTest::newRow("ascii") << QByteArray("Open Table") << 10;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("german") << QByteArray("\xC3\x96\x66\x66nen") << 6;
        QTest::newRow("hebrew") << QByteArray("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D") << 4;
        QTest::newRow("chinese") << QByteArray("\xE6\x89\x93\xE5\xBC\x80") << 2;
        QTest::newRow("above BMP") << QByteArray("\xF0\x9F\x98\x80") << 2;
        QTest::newRow("line breaks") << QByteArray("a\r\nb") << 4;
    }
    void RoundTrip() {
        QFETCH(QByteArray, utf8);
        QFETCH(int, units);
        const std::string text(utf8.constData(), static_cast<std::size_t>(utf8.size()));
        const QString shown = ToQString(text);
        QCOMPARE(shown.size(), units);
        QCOMPARE(shown, QString::fromUtf8(utf8));
        QCOMPARE(ToUtf8(shown), text);
    }

    // Where Qt's own codec would differ, the text layer's rules hold.
    void LayerRules() {
        // A lone high surrogate encodes by itself, not as a replacement character.
        const QChar lone(char16_t(0xD800));
        QCOMPARE(ToUtf8(QString(lone)), std::string("\xED\xA0\x80"));
        // A value above U+10FFFF decodes to U+FFFD.
        QCOMPARE(ToQString("\xF4\x90\x80\x80"), QString(QChar(char16_t(0xFFFD))));
        // A sequence cut off by the end of the text decodes to nothing.
        QCOMPARE(ToQString("ab\xE2\x82"), QStringLiteral("ab"));
        // A zero byte inside the text is kept.
        QCOMPARE(ToQString(std::string("a\0b", 3)).size(), 3);
    }

    void Direction_data() {
        QTest::addColumn<QByteArray>("utf8");
        QTest::addColumn<bool>("rightToLeft");
        QTest::newRow("digits then hebrew") << QByteArray("12 \xD7\xA9\xD7\x9C") << true;
        QTest::newRow("arabic") << QByteArray("\xD8\xB9\xD8\xB1\xD8\xA8") << true;
        QTest::newRow("digits then latin") << QByteArray("12 ab") << false;
        QTest::newRow("digits only") << QByteArray("12 - 3!") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("latin then arabic") << QByteArray("a \xD8\xB9") << false;
    }
    void Direction() {
        QFETCH(QByteArray, utf8);
        QFETCH(bool, rightToLeft);
        const std::string text(utf8.constData(), static_cast<std::size_t>(utf8.size()));
        const Qt::LayoutDirection expected = rightToLeft ? Qt::RightToLeft : Qt::LeftToRight;
        QCOMPARE(TextLayoutDirection(text), expected);
        QCOMPARE(TextLayoutDirection(ToQString(text)), expected);
    }
};
KELVARA_QT_TEST(TQtTextTest);

#include "qt_text_test.moc"
