#pragma once

#include "addressbook/node_record.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace qarsilo {

/// The three group tables of the address book.
enum class GroupTable {
    Workgroup, ///< `workgrouptree`, column "WORKGROUP"
    Location,  ///< `locationtree`, column "LOCATION"
    Subnet,    ///< `subnettree`, column "SUBNET"
};

/// One connection to the address book file (SQLite, named `address.mdb` in
/// the working directory unless told otherwise). Each window opens its own and
/// every operation reads or writes the tables afresh: nothing is cached, so two
/// windows always see each other's saved changes.
///
/// Rows come back in the order they were added. Every write is one
/// transaction: it is stored whole or not at all. A connection is used on the
/// thread that opened it.
class AddressDatabase {
public:
    /// Outcome of an operation that looks a node or group name up first.
    enum class Outcome { Done, NotFound, Failed };

    /// The file every window opens: "address.mdb" (working directory).
    static QString defaultFileName();
    /// Points every later connection at another file (tests, other profiles);
    /// an empty name restores the default.
    static void setDefaultFileName(const QString& fileName);

    explicit AddressDatabase(QString fileName = defaultFileName());
    ~AddressDatabase();
    AddressDatabase(const AddressDatabase&) = delete;
    AddressDatabase& operator=(const AddressDatabase&) = delete;

    /// Opens the file, creating it and any missing table. On failure
    /// lastError() holds the text for the operator: "Can't create instance of
    /// Connection" when SQLite is not available, else the engine's
    /// description, else "Can't open datasource".
    bool open();
    void close();
    bool isOpen() const { return m_open; }
    QString fileName() const { return m_fileName; }
    /// The engine's description of the last failure.
    QString lastError() const { return m_error; }

    /// Hands every node to `sink` in table order. A missing value (NULL, from
    /// a file written by another tool) reads as empty text. On a failure the
    /// rows handed over so far stay handed over and false is returned.
    bool forEachNode(const std::function<void(const NodeRecord&)>& sink);
    /// Appends every node to `out` (see forEachNode).
    bool listNodes(QList<NodeRecord>& out);
    /// Appends every name of one group table to `out`, in table order.
    bool listGroups(GroupTable table, QStringList& out);

    /// Adds a node and its workgroup, location and IP range names (those not
    /// yet in their tables). Fails, changing nothing, when the MAC is already
    /// stored (compared without regard to letter case).
    bool addNode(const NodeRecord& node);
    /// The node whose "MAC" equals `mac` exactly.
    Outcome findNode(const QString& mac, NodeRecord& out);
    /// Updates IP, NAME, WORKGROUP, DATE, DESCRIPTION, SUBNET, LOCATION and
    /// IPv6 of the node whose "MAC" equals `node.mac` exactly; MAC, DOMAINNAME
    /// and TYPE keep their values and no group name is added.
    Outcome updateNode(const NodeRecord& node);
    /// Deletes the node whose "MAC" equals `mac` exactly.
    Outcome deleteNode(const QString& mac);

    /// Adds `name` to the table unless it is there already (exact comparison,
    /// so names that differ in letter case are different names). An empty name
    /// is a name like any other.
    bool addGroupIfAbsent(GroupTable table, const QString& name);
    /// Deletes the row whose name equals `name` exactly.
    Outcome deleteGroup(GroupTable table, const QString& name);

    /// Empties all four tables, nodes first.
    bool clearAll();

    /// Node names by lower-cased MAC text.
    bool loadNames(QHash<QString, QString>& namesByMac);

    static QString tableName(GroupTable table);
    static QString columnName(GroupTable table);

private:
    bool fail(const QString& error);
    bool addGroup(GroupTable table, const QString& name);

    QString m_fileName;
    QString m_connection;
    QString m_error;
    bool m_open = false;
};

} // namespace qarsilo
