#pragma once

#include <QString>
#include <exception>

// The system's error contract: an exception that carries a message text.
class TdvError : public std::exception
{
public:
    explicit TdvError(QString message) : Message(std::move(message)), FUtf8(Message.toUtf8()) {}
    const char* what() const noexcept override { return FUtf8.constData(); }

    QString Message;

private:
    QByteArray FUtf8;
};

// The message of any exception, for code that must turn a failure into an item's text.
inline QString errorMessage(const std::exception& e)
{
    if (auto* err = dynamic_cast<const TdvError*>(&e))
        return err->Message;
    return QString::fromLocal8Bit(e.what());
}

// Ends the process with a code once start-up has unwound (the install and uninstall notices).
class TdvExit : public std::exception
{
public:
    explicit TdvExit(int code) : Code(code) {}
    const char* what() const noexcept override { return "exit"; }
    int Code;
};
