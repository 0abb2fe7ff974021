#pragma once

#include <QString>
#include <QStringList>

// A small key/value store standing in for the system registry that PDF printer drivers read: two hives kept
// as text files, keys holding text values, key and value names compared without letter case.
// The hives live in the user's config folder ("current user") and in /etc/vellum ("local machine");
// VELLUM_REGISTRY_DIR moves both into one folder.
class TdvRegistry
{
public:
    enum Hive { CurrentUser, LocalMachine };

    explicit TdvRegistry(Hive hive) : FHive(hive) {}
    // Opens a key; without create, a missing key is not opened. Answers whether the key is open.
    bool OpenKey(const QString& key, bool create);
    QString ReadString(const QString& name) const;               // empty when absent
    void WriteString(const QString& name, const QString& value); // throws TdvError when it cannot write
    void CloseKey() { FKey.clear(); }

    static QString HiveFile(Hive hive);

private:
    struct Section
    {
        QString key;
        QStringList lines; // name=value
    };
    QList<Section> load() const;
    void save(const QList<Section>& sections) const;

    Hive FHive;
    QString FKey;
};
