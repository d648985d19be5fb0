// Demo registers: realistic assets over a few named groups, generated from a seed so that the same
// command always makes the same register.
#pragma once

#include <QString>

struct DemoOptions {
    int assets = 200;
    unsigned seed = 20261207;
    QString companyName = QStringLiteral("Kelvin Lane Trust");
    QString companyAbbr = QStringLiteral("KLT");
    QString accessPassword = QStringLiteral("demo");
    // Whether the program asks for the password at start; a demo opens read-only, to be logged on to.
    bool promptPassword = false;
};

// Fills a register made by createRegister: settings, groups and assets in one transaction. Identifiers are
// numbered per group in order of adding, as the program numbers them.
void fillDemoRegister(const QString& path, const DemoOptions& options);
