#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

struct sqlite3;

// One stored fingerprint: its id and the template as Base64 text, whole
// (an enrolment template of 2048 bytes takes 2732 characters).
struct _TemplateInfo
{
    int id = 0;
    QByteArray text;
};

// The template store: table template10 in the SQLite file "qxfinger.db" of
// the working directory. The file holds personal data and is kept readable
// by its owner only.
class DBRelate
{
public:
    static const char *const kFileName;

    DBRelate() = default;
    ~DBRelate();
    DBRelate(const DBRelate &) = delete;
    DBRelate &operator=(const DBRelate &) = delete;

    // True when the store is (already) open and its table exists.
    bool open();
    void close();
    bool isOpen() const { return db != nullptr; }

    bool add(int id, const QString &text);
    bool del(int id);
    bool clear();
    bool isExist(int id);
    // Appends one new record per row; the caller deletes them.
    void query(QVector<_TemplateInfo *> &templates);

private:
    // Runs one statement with an optional id and text bound to ?1 and ?2;
    // on failure prints `failure` with the store's message.
    bool execute(const char *sql, const char *failure, const int *id = nullptr,
                 const QByteArray *text = nullptr);

    sqlite3 *db = nullptr;
};
