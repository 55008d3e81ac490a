#pragma once
// TApplication: the Qt application object. It installs the Qt presenter as
// the application's report, and its notify() is the last net for exceptions
// thrown from any event handler.

#include <QApplication>

namespace kestrel {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kestrel
