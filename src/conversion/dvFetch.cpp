#include "conversion/dvFetch.h"

#include "base/dvError.h"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

// The download itself, on a thread with an event loop; answers why it failed, or nothing.
QString download(const QUrl& address, const QString& file, qint64 maxBytes, int limitSeconds)
{
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("%1 cannot be written: %2").arg(file, out.errorString());
    QEventLoop loop;
    QNetworkAccessManager manager;
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    // A server that stops sending is given up on even without an item limit.
    request.setTransferTimeout(60000);
    QNetworkReply* reply = manager.get(request);
    QString problem;
    bool timedOut = false;
    qint64 received = 0;
    const auto tooLarge = [&] {
        problem = QStringLiteral("it is larger than %1 MiB").arg(maxBytes >> 20);
        reply->abort();
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (length > maxBytes)
            tooLarge();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        const QByteArray data = reply->readAll();
        received += data.size();
        if (received > maxBytes)
            tooLarge();
        else if (out.write(data) != data.size() && problem.isEmpty()) {
            problem = QStringLiteral("%1 cannot be written: %2").arg(file, out.errorString());
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer clock;
    if (limitSeconds > 0) {
        clock.setSingleShot(true);
        QObject::connect(&clock, &QTimer::timeout, &loop, [&] {
            timedOut = true;
            reply->abort();
        });
        clock.start(limitSeconds * 1000);
    }
    if (!reply->isFinished())
        loop.exec();
    if (problem.isEmpty() && reply->bytesAvailable() > 0) {
        const QByteArray rest = reply->readAll();
        received += rest.size();
        if (received > maxBytes)
            problem = QStringLiteral("it is larger than %1 MiB").arg(maxBytes >> 20);
        else
            out.write(rest);
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    delete reply;
    out.close();
    if (timedOut)
        problem = QStringLiteral("no complete answer within %1 s").arg(limitSeconds);
    else if (problem.isEmpty() && status >= 400)
        problem = QStringLiteral("HTTP %1 %2").arg(status).arg(reason).trimmed();
    else if (problem.isEmpty() && error != QNetworkReply::NoError)
        problem = errorText;
    else if (problem.isEmpty() && out.error() != QFileDevice::NoError)
        problem = QStringLiteral("%1 cannot be written: %2").arg(file, out.errorString());
    return problem;
}

} // namespace

void fetchDeck(const QString& url, const QString& file, qint64 maxBytes, int limitSeconds)
{
    const QUrl address(url);
    const QString scheme = address.scheme().toLower();
    QString problem;
    if (!address.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        problem = QStringLiteral("it is no http or https address");
    } else {
        // Workers are no Qt threads: the download gets one of its own, with its own event loop, and the
        // worker waits for it as it waits for a conversion.
        std::unique_ptr<QThread> thread(
            QThread::create([&] { problem = download(address, file, maxBytes, limitSeconds); }));
        thread->start();
        thread->wait();
    }
    if (!problem.isEmpty()) {
        QFile::remove(file);
        throw TdvError(QStringLiteral("The presentation at %1 cannot be downloaded: %2").arg(url, problem));
    }
}
