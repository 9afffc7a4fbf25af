// Runs the registered Qt test classes: the one named by the first argument (further arguments go
// to QTest), or every class.
#include "components/qt_test_support.h"

#include <QApplication>
#include <QTest>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kelvara::test {
std::map<std::string, TTestFactory>& Registry() {
    static std::map<std::string, TTestFactory> registry;
    return registry;
}
} // namespace kelvara::test

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvara"));
    auto& registry = kelvara::test::Registry();
    std::vector<char*> rest{argv[0]};
    std::vector<std::string> selected;
    if (argc > 1 && registry.count(argv[1]) != 0) {
        selected.push_back(argv[1]);
        for (int i = 2; i < argc; ++i) {
            rest.push_back(argv[i]);
        }
    } else {
        for (const auto& entry : registry) {
            selected.push_back(entry.first);
        }
        for (int i = 1; i < argc; ++i) {
            rest.push_back(argv[i]);
        }
    }
    int failures = 0;
    for (const std::string& name : selected) {
        auto test = registry[name]();
        failures += QTest::qExec(test.get(), static_cast<int>(rest.size()), rest.data());
    }
    return failures == 0 ? 0 : 1;
}
