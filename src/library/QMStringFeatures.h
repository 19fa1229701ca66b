#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// Path manipulations on (file) URLs, with the usual path rules: trailing slashes do not make a
// component, and the root path "/" is its own last component. The two URL-building helpers keep
// only the scheme, the host and the path: a port, user, query or fragment is dropped.
//
// Pure functions: callable from any thread.

// The last component of the URL's path ("/a/b.jpg" and "/a/b.jpg/" give "b.jpg"; "/" gives "/").
QString qm_lastPathComponent(const QUrl& url);

// The URL of the path without its last component ("/a/b.jpg" gives "/a", "/a" gives "/", and "/"
// stays "/").
QUrl qm_URLByDeletingLastPathComponent(const QUrl& url);

// The URL of the path with `component` appended, exactly one slash between them ("/" and "x" give
// "/x"; "/a/" and "x" give "/a/x"; "/a" and "/x/" give "/a/x"). An empty component leaves the path
// as it is, without a trailing slash.
QUrl qm_URLByAppendingPathComponent(const QUrl& url, const QString& component);

// The URL's path in the file system's own encoding; QByteArray keeps it zero-terminated
// (constData()).
QByteArray qm_fileSystemRepresentation(const QUrl& url);
