#pragma once

#include "app/CancelToken.h"
#include <QByteArray>

#include <QString>
#include <QStringList>

#include <functional>
#include <map>

// NetBIOS node status (UDP 137): asks hosts for their name table, which names the workgroup or
// domain they belong to. Hosts with NetBIOS switched off do not answer; they are left out.
namespace nbstat {

// Asks every address (dotted IPv4) at once; returns address -> workgroup for those that
// answered with one. Returns within msTotal, or soon after cancel says so. Any thread.
std::map<QString, QString> Workgroups(const QStringList& addresses, int msTotal,
                                      const CancelToken& cancel);

// The parts of the protocol, for tests.
QByteArray StatusRequest(quint16 nId);
// The workgroup in a node status answer (the group name of type 0x00), empty when there is
// none or the answer is not one; *pId gets the answer's transaction id.
QString WorkgroupFromAnswer(const QByteArray& answer, quint16* pId = nullptr);

} // namespace nbstat
