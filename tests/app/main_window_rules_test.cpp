#include "app/main_window_rules.h"
#include "components/qt_test_support.h"

#include <QTest>

using namespace kelvara;

Q_DECLARE_METATYPE(kelvara::TGridColumnWidths)

class TMainWindowRulesTest : public QObject {
    Q_OBJECT
private slots:
    void MaintainerSwitch_data() {
        QTest::addColumn<QStringList>("parameters");
        QTest::addColumn<bool>("maintainer");
        QTest::newRow("none") << QStringList() << false;
        QTest::newRow("switch") << QStringList{QStringLiteral("-KXDW31EDIT")} << true;
        QTest::newRow("longer") << QStringList{QStringLiteral("-KXDW31EDITOR")} << true;
        QTest::newRow("other case") << QStringList{QStringLiteral("-kxdw31edit")} << false;
        QTest::newRow("shorter") << QStringList{QStringLiteral("-KXDW31EDI")} << false;
        QTest::newRow("not at the start") << QStringList{QStringLiteral("x-KXDW31EDIT")} << false;
        QTest::newRow("among others")
            << QStringList{QStringLiteral("table.db"), QStringLiteral("-KXDW31EDIT"),
                           QStringLiteral("-other")}
            << true;
    }
    void MaintainerSwitch() {
        QFETCH(QStringList, parameters);
        QFETCH(bool, maintainer);
        std::vector<std::string> texts;
        for (const QString& parameter : parameters) {
            texts.push_back(parameter.toStdString());
        }
        QCOMPARE(HasMaintainerSwitch(texts), maintainer);
    }

    void FitTextColumnWidths_data() {
        QTest::addColumn<TGridColumnWidths>("widths");
        QTest::addColumn<int>("gridWidth");
        QTest::addColumn<int>("native");
        QTest::addColumn<int>("language");
        // Excess 203: both text columns become 150.
        QTest::newRow("too wide") << TGridColumnWidths{40, 125, 125, 114, 210, 238} << 675 << 150
                                  << 150;
        // Excess -270: both grow by 135.
        QTest::newRow("room to spare")
            << TGridColumnWidths{40, 125, 125, 114, 150, 150} << 1000 << 285 << 285;
        // Excess -101: half is -50 (truncated toward zero), both grow by 50.
        QTest::newRow("odd spare room")
            << TGridColumnWidths{40, 125, 125, 114, 150, 150} << 831 << 200 << 200;
        // Excess exactly 0: nothing changes.
        QTest::newRow("exact fit")
            << TGridColumnWidths{40, 125, 125, 114, 150, 150} << 730 << 150 << 150;
        // Widths the user dragged are the starting point.
        QTest::newRow("dragged") << TGridColumnWidths{40, 125, 125, 114, 300, 100} << 1000 << 385
                                 << 185;
    }
    void FitTextColumnWidths() {
        QFETCH(TGridColumnWidths, widths);
        QFETCH(int, gridWidth);
        QFETCH(int, native);
        QFETCH(int, language);
        const TGridColumnWidths fitted = kelvara::FitTextColumnWidths(widths, gridWidth);
        QCOMPARE(fitted[4], native);
        QCOMPARE(fitted[5], language);
        for (int column = 0; column < 4; ++column) {
            QCOMPARE(fitted[static_cast<std::size_t>(column)],
                     widths[static_cast<std::size_t>(column)]);
        }
    }
};
KELVARA_QT_TEST(TMainWindowRulesTest);

#include "main_window_rules_test.moc"
