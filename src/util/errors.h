// Errors travel as exceptions carrying the text the operator reads.
#pragma once

#include <QString>

#include <exception>

namespace qtl {

class AppError : public std::exception {
public:
    explicit AppError(QString text) : m_text(std::move(text)), m_utf8(m_text.toUtf8()) {}
    const QString& text() const noexcept { return m_text; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

// An error reported by the database server or the client library; the text is the server's own.
class DatabaseError : public AppError {
public:
    explicit DatabaseError(QString text, bool connectionLost = false)
        : AppError(std::move(text)), m_connectionLost(connectionLost) {}
    bool connectionLost() const noexcept { return m_connectionLost; }

private:
    bool m_connectionLost;
};

// A text that should have been a number: "'x' is not a valid integer value".
class ConversionError : public AppError {
public:
    using AppError::AppError;
};

// An input/output error (settings file): "File not found", "Read beyond end of file", ...
class InOutError : public AppError {
public:
    using AppError::AppError;
};

// Strict decimal conversion of a whole text (optional sign, digits, surrounding blanks allowed);
// anything else throws ConversionError with the text "'<text>' is not a valid integer value".
int StrToInt(const QString& text);

}  // namespace qtl
