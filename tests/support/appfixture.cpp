// The whole-program fixture.
#include "tests/support/appfixture.h"

#include "program/startup.h"

#include <QDir>

AppFixture::AppFixture() : previousFolder_(QDir::currentPath()) {
    programFolder_ = reg_.folder() + QStringLiteral("/program");
    QDir().mkpath(programFolder_);
    makeProgramFolder(programFolder_);
}

AppFixture::~AppFixture() {
    startup_.reset();
    QDir::setCurrent(previousFolder_);
}

QString AppFixture::programFile() const {
    return programFolder_ + QStringLiteral("/vantrel");
}

std::optional<int> AppFixture::start() {
    return start(StartOptions{});
}

std::optional<int> AppFixture::start(const StartOptions& options) {
    QDir::setCurrent(reg_.folder());
    startup_ = std::make_unique<Startup>();
    return startup_->prepare(programFile(), options);
}
