#pragma once

// The data set's tables, shared by the writer and the reader.
namespace kelvora::directory {

// Stored in meta under "format"; a database without it is refused.
inline constexpr const char *kDataFormat = "kelvora-directory-1";

// sites: one row per site; host is the address as displayed, key the host
// without "www." used for every look-up. outbound: the site's links in page
// order; target_key finds the sites linking to a host. related: the most
// similar sites, best first. sites_fts: external-content full-text index.
inline constexpr const char *kSchemaSql = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE sites(
  id INTEGER PRIMARY KEY,
  host TEXT NOT NULL UNIQUE,
  key TEXT NOT NULL UNIQUE,
  title TEXT NOT NULL,
  description TEXT NOT NULL,
  keywords TEXT NOT NULL,
  contact TEXT NOT NULL,
  online_since TEXT NOT NULL,
  popularity INTEGER NOT NULL,
  rank INTEGER NOT NULL);
CREATE TABLE outbound(
  site_id INTEGER NOT NULL,
  position INTEGER NOT NULL,
  host TEXT NOT NULL,
  target_key TEXT NOT NULL,
  PRIMARY KEY(site_id, position)) WITHOUT ROWID;
CREATE INDEX outbound_target ON outbound(target_key, site_id);
CREATE TABLE related(
  site_id INTEGER NOT NULL,
  position INTEGER NOT NULL,
  related_id INTEGER NOT NULL,
  PRIMARY KEY(site_id, position)) WITHOUT ROWID;
CREATE VIRTUAL TABLE sites_fts USING fts5(
  title, description, keywords,
  content='sites', content_rowid='id',
  tokenize='porter unicode61 remove_diacritics 2');
)sql";

} // namespace kelvora::directory
