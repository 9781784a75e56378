// Opening a document with the desktop's default application, behind an interface
// so tests see what would be opened.
#pragma once

#include <QString>

class DocumentOpener {
public:
    virtual ~DocumentOpener() = default;
    virtual void open(const QString& path) = 0;
};

class QtDocumentOpener : public DocumentOpener {
public:
    void open(const QString& path) override;
};
