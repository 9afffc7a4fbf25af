#include "components/qt_test_support.h"
#include "components/step_progress_bar.h"

#include <QTest>

using namespace kelvara;

class TStepProgressBarTest : public QObject {
    Q_OBJECT
private slots:
    void RunOfTenFillsTheBarThenWraps() {
        TStepProgressBar bar;
        bar.StartSteps(10);
        QCOMPARE(bar.value(), 0);
        for (int step = 1; step <= 10; ++step) {
            bar.StepIt();
            QCOMPARE(bar.value(), step);
        }
        QCOMPARE(bar.value(), bar.maximum());
        bar.StepIt();
        QCOMPARE(bar.value(), 0);
        bar.StepIt();
        QCOMPARE(bar.value(), 1);
    }

    // Qt's bar animates as busy when minimum and maximum are both 0; the idle bar must not.
    void MaximumZeroIsIdleAndEmpty() {
        TStepProgressBar bar;
        bar.StartSteps(5);
        bar.StepIt();
        bar.StartSteps(0);
        QVERIFY(bar.maximum() > bar.minimum());
        QCOMPARE(bar.value(), bar.minimum());
        bar.StepIt();
        QCOMPARE(bar.value(), bar.minimum());
        bar.StartSteps(-3);
        QVERIFY(bar.maximum() > bar.minimum());
        QCOMPARE(bar.Steps(), 0);
    }

    void RestartBeginsAtZero() {
        TStepProgressBar bar;
        bar.StartSteps(3);
        bar.StepIt();
        bar.StepIt();
        bar.StartSteps(4);
        QCOMPARE(bar.value(), 0);
        QCOMPARE(bar.maximum(), 4);
    }
};
KELVARA_QT_TEST(TStepProgressBarTest);

#include "step_progress_bar_test.moc"
