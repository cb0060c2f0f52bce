-- The fixed tables of a new, empty catalogue on the embedded engine.
--
-- Text compares, keys and orders without regard to letter case (COLLATE
-- NOCASE), as the Access engine does, and a text longer than its column's
-- width is refused (CHECK on its length in characters), never cut.
-- The per-type tables are created by the library, not here.

CREATE TABLE [PLC_MANUFACTURER] (
  [MANUFACTURER] VARCHAR(255) COLLATE NOCASE CONSTRAINT [MANUFACTURER is at most 255 characters] CHECK (length([MANUFACTURER]) <= 255),
  [SERIES]       VARCHAR(255) COLLATE NOCASE CONSTRAINT [SERIES is at most 255 characters] CHECK (length([SERIES]) <= 255),
  [TYPE]         VARCHAR(255) COLLATE NOCASE CONSTRAINT [TYPE is at most 255 characters] CHECK (length([TYPE]) <= 255),
  [TABLE_NAME]   VARCHAR(255) COLLATE NOCASE CONSTRAINT [TABLE_NAME is at most 255 characters] CHECK (length([TABLE_NAME]) <= 255)
);

CREATE TABLE [PLC_STYLES] (
  [STYLE]                   INTEGER NOT NULL PRIMARY KEY,
  [BOX_RIGHT]               VARCHAR(60) COLLATE NOCASE CONSTRAINT [BOX_RIGHT is at most 60 characters] CHECK (length([BOX_RIGHT]) <= 60),
  [BOX_LEFT]                VARCHAR(60) COLLATE NOCASE CONSTRAINT [BOX_LEFT is at most 60 characters] CHECK (length([BOX_LEFT]) <= 60),
  [BOX_TOP]                 VARCHAR(60) COLLATE NOCASE CONSTRAINT [BOX_TOP is at most 60 characters] CHECK (length([BOX_TOP]) <= 60),
  [BOX_BOTTOM]              VARCHAR(60) COLLATE NOCASE CONSTRAINT [BOX_BOTTOM is at most 60 characters] CHECK (length([BOX_BOTTOM]) <= 60),
  [BOX_SPLIT_TOP]           VARCHAR(60) COLLATE NOCASE CONSTRAINT [BOX_SPLIT_TOP is at most 60 characters] CHECK (length([BOX_SPLIT_TOP]) <= 60),
  [BOX_SPLIT_BOTTOM]        VARCHAR(60) COLLATE NOCASE CONSTRAINT [BOX_SPLIT_BOTTOM is at most 60 characters] CHECK (length([BOX_SPLIT_BOTTOM]) <= 60),
  [METRIC_BOX_RIGHT]        VARCHAR(60) COLLATE NOCASE CONSTRAINT [METRIC_BOX_RIGHT is at most 60 characters] CHECK (length([METRIC_BOX_RIGHT]) <= 60),
  [METRIC_BOX_LEFT]         VARCHAR(60) COLLATE NOCASE CONSTRAINT [METRIC_BOX_LEFT is at most 60 characters] CHECK (length([METRIC_BOX_LEFT]) <= 60),
  [METRIC_BOX_TOP]          VARCHAR(60) COLLATE NOCASE CONSTRAINT [METRIC_BOX_TOP is at most 60 characters] CHECK (length([METRIC_BOX_TOP]) <= 60),
  [METRIC_BOX_BOTTOM]       VARCHAR(60) COLLATE NOCASE CONSTRAINT [METRIC_BOX_BOTTOM is at most 60 characters] CHECK (length([METRIC_BOX_BOTTOM]) <= 60),
  [METRIC_BOX_SPLIT_TOP]    VARCHAR(60) COLLATE NOCASE CONSTRAINT [METRIC_BOX_SPLIT_TOP is at most 60 characters] CHECK (length([METRIC_BOX_SPLIT_TOP]) <= 60),
  [METRIC_BOX_SPLIT_BOTTOM] VARCHAR(60) COLLATE NOCASE CONSTRAINT [METRIC_BOX_SPLIT_BOTTOM is at most 60 characters] CHECK (length([METRIC_BOX_SPLIT_BOTTOM]) <= 60)
);

CREATE TABLE [PLC_MSG] (
  [FIND]        VARCHAR(255) COLLATE NOCASE CONSTRAINT [FIND is at most 255 characters] CHECK (length([FIND]) <= 255),
  [WD_MSG_CODE] VARCHAR(255) COLLATE NOCASE CONSTRAINT [WD_MSG_CODE is at most 255 characters] CHECK (length([WD_MSG_CODE]) <= 255)
);
