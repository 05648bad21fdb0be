#include "dbrelate.h"

#include <QDebug>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char *const DBRelate::kFileName = "qxfinger.db";

namespace {

const char kCreateTable[] =
    "create table if not exists template10(id int primary key, template VARCHAR(3096))";

// Creates the store file for its owner only, whatever the umask, and takes
// group and other access away from a file made by an earlier version.
bool prepareOwnerOnlyFile(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok && (info.st_mode & 0777) != (S_IRUSR | S_IWUSR))
        ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    ::close(fd);
    return ok;
}

// Unique owner of a prepared statement.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    sqlite3_stmt *get() const { return stmt; }

private:
    sqlite3_stmt *stmt = nullptr;
};

} // namespace

DBRelate::~DBRelate()
{
    close();
}

bool DBRelate::open()
{
    if (db)
        return true;
    if (!prepareOwnerOnlyFile(kFileName)) {
        qDebug() << "cannot prepare the template store" << kFileName;
        return false;
    }
    if (sqlite3_open_v2(kFileName, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        qDebug() << "cannot open the template store" << kFileName << (db ? sqlite3_errmsg(db) : "");
        close();
        return false;
    }
    if (!execute(kCreateTable, "create table failed, errmsg=%s\r\n")) {
        close();
        return false;
    }
    return true;
}

void DBRelate::close()
{
    if (db)
        sqlite3_close(db);
    db = nullptr;
}

bool DBRelate::execute(const char *sql, const char *failure, const int *id, const QByteArray *text)
{
    if (!db)
        return false;
    Statement statement(db, sql);
    bool ok = statement.get() != nullptr;
    if (ok && id)
        ok = sqlite3_bind_int(statement.get(), 1, *id) == SQLITE_OK;
    if (ok && text)
        ok = sqlite3_bind_text(statement.get(), 2, text->constData(), text->size(), SQLITE_TRANSIENT) == SQLITE_OK;
    if (ok)
        ok = sqlite3_step(statement.get()) == SQLITE_DONE;
    if (!ok) {
        std::printf(failure, sqlite3_errmsg(db));
        std::fflush(stdout);
    }
    return ok;
}

bool DBRelate::add(int id, const QString &text)
{
    const QByteArray latin1 = text.toLatin1();
    return execute("insert into template10 values(?1, ?2)", "add failed, errmsg=%s\r\n", &id, &latin1);
}

bool DBRelate::del(int id)
{
    return execute("delete from template10 where id=?1", "delete failed, errmsg=%s\r\n", &id);
}

bool DBRelate::clear()
{
    return execute("delete from template10 where 1", "clear failed, errmsg=%s\r\n");
}

bool DBRelate::isExist(int id)
{
    if (!db)
        return false;
    Statement statement(db, "select count(*) from template10 where id=?1");
    if (!statement.get() || sqlite3_bind_int(statement.get(), 1, id) != SQLITE_OK)
        return false;
    return sqlite3_step(statement.get()) == SQLITE_ROW && sqlite3_column_int(statement.get(), 0) > 0;
}

void DBRelate::query(QVector<_TemplateInfo *> &templates)
{
    if (!db)
        return;
    Statement statement(db, "select * from template10 where 1");
    if (!statement.get())
        return;
    while (sqlite3_step(statement.get()) == SQLITE_ROW) {
        auto *record = new _TemplateInfo;
        const unsigned char *id = sqlite3_column_text(statement.get(), 0);
        record->id = id ? std::atoi(reinterpret_cast<const char *>(id)) : 0;
        const unsigned char *text = sqlite3_column_text(statement.get(), 1);
        if (text)
            record->text = QByteArray(reinterpret_cast<const char *>(text),
                                      sqlite3_column_bytes(statement.get(), 1));
        templates.append(record);
    }
}
