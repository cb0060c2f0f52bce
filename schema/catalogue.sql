-- The fixed tables of a new, empty catalogue on the embedded engine.
-- Create a catalogue file from it with the sqlite3 shell:
--
--   sqlite3 new-catalogue.db < schema/catalogue.sql
--   sqlite3 new-catalogue.db 'PRAGMA journal_mode=WAL'
--
-- or, from code, kivoledb::CreateEmbeddedCatalogue (oledb/include/KivPmOleDbFiles.h)
-- with kiv::kCatalogueSchemaSql, which does both.
--
-- The columns are written the way the access component writes the per-type
-- tables that the library creates: text compares, keys and orders without
-- regard to letter case (COLLATE NOCASE), as the Access engine does, and a
-- text longer than its column's width or an integer outside its type's
-- range is refused by a CHECK whose name says why; nothing is ever cut.
-- Only built-in collations and functions are used, so the sqlite3 shell
-- reads and writes the file like any other.

CREATE TABLE [PLC_MANUFACTURER] (
  [MANUFACTURER] VARCHAR(255) COLLATE NOCASE CONSTRAINT "MANUFACTURER holds at most 255 characters" CHECK (length([MANUFACTURER]) <= 255),
  [SERIES]       VARCHAR(255) COLLATE NOCASE CONSTRAINT "SERIES holds at most 255 characters" CHECK (length([SERIES]) <= 255),
  [TYPE]         VARCHAR(255) COLLATE NOCASE CONSTRAINT "TYPE holds at most 255 characters" CHECK (length([TYPE]) <= 255),
  [TABLE_NAME]   VARCHAR(255) COLLATE NOCASE CONSTRAINT "TABLE_NAME holds at most 255 characters" CHECK (length([TABLE_NAME]) <= 255)
);

CREATE TABLE [PLC_STYLES] (
  [STYLE]                   INTEGER NOT NULL PRIMARY KEY CONSTRAINT "STYLE takes whole numbers from -2147483648 to 2147483647 (INTEGER)" CHECK ([STYLE] IS NULL OR (typeof([STYLE]) = 'integer' AND [STYLE] BETWEEN -2147483648 AND 2147483647)),
  [BOX_RIGHT]               VARCHAR(60) COLLATE NOCASE CONSTRAINT "BOX_RIGHT holds at most 60 characters" CHECK (length([BOX_RIGHT]) <= 60),
  [BOX_LEFT]                VARCHAR(60) COLLATE NOCASE CONSTRAINT "BOX_LEFT holds at most 60 characters" CHECK (length([BOX_LEFT]) <= 60),
  [BOX_TOP]                 VARCHAR(60) COLLATE NOCASE CONSTRAINT "BOX_TOP holds at most 60 characters" CHECK (length([BOX_TOP]) <= 60),
  [BOX_BOTTOM]              VARCHAR(60) COLLATE NOCASE CONSTRAINT "BOX_BOTTOM holds at most 60 characters" CHECK (length([BOX_BOTTOM]) <= 60),
  [BOX_SPLIT_TOP]           VARCHAR(60) COLLATE NOCASE CONSTRAINT "BOX_SPLIT_TOP holds at most 60 characters" CHECK (length([BOX_SPLIT_TOP]) <= 60),
  [BOX_SPLIT_BOTTOM]        VARCHAR(60) COLLATE NOCASE CONSTRAINT "BOX_SPLIT_BOTTOM holds at most 60 characters" CHECK (length([BOX_SPLIT_BOTTOM]) <= 60),
  [METRIC_BOX_RIGHT]        VARCHAR(60) COLLATE NOCASE CONSTRAINT "METRIC_BOX_RIGHT holds at most 60 characters" CHECK (length([METRIC_BOX_RIGHT]) <= 60),
  [METRIC_BOX_LEFT]         VARCHAR(60) COLLATE NOCASE CONSTRAINT "METRIC_BOX_LEFT holds at most 60 characters" CHECK (length([METRIC_BOX_LEFT]) <= 60),
  [METRIC_BOX_TOP]          VARCHAR(60) COLLATE NOCASE CONSTRAINT "METRIC_BOX_TOP holds at most 60 characters" CHECK (length([METRIC_BOX_TOP]) <= 60),
  [METRIC_BOX_BOTTOM]       VARCHAR(60) COLLATE NOCASE CONSTRAINT "METRIC_BOX_BOTTOM holds at most 60 characters" CHECK (length([METRIC_BOX_BOTTOM]) <= 60),
  [METRIC_BOX_SPLIT_TOP]    VARCHAR(60) COLLATE NOCASE CONSTRAINT "METRIC_BOX_SPLIT_TOP holds at most 60 characters" CHECK (length([METRIC_BOX_SPLIT_TOP]) <= 60),
  [METRIC_BOX_SPLIT_BOTTOM] VARCHAR(60) COLLATE NOCASE CONSTRAINT "METRIC_BOX_SPLIT_BOTTOM holds at most 60 characters" CHECK (length([METRIC_BOX_SPLIT_BOTTOM]) <= 60)
);

CREATE TABLE [PLC_MSG] (
  [FIND]        VARCHAR(255) COLLATE NOCASE CONSTRAINT "FIND holds at most 255 characters" CHECK (length([FIND]) <= 255),
  [WD_MSG_CODE] VARCHAR(255) COLLATE NOCASE CONSTRAINT "WD_MSG_CODE holds at most 255 characters" CHECK (length([WD_MSG_CODE]) <= 255)
);
