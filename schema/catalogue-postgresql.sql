-- The fixed tables of a new, empty catalogue on a PostgreSQL server, and
-- what the tables the library creates need.  Run it in an empty database
-- or schema (kivplc init does, in one transaction), or by hand:
--
--   psql -1 -d plant -f schema/catalogue-postgresql.sql
--
-- The rules are those of the Access engine, as the access component keeps
-- them for the tables it creates:
--  - text compares, keys and orders without regard to letter case: the
--    nondeterministic ICU collation kiv_nocase (case differences ignored,
--    accents kept);
--  - a text longer than its column's width, or an integer outside its
--    type's range, is refused by kiv_check with a text that says why;
--    the rule is tested first, so the function runs only for a value
--    that breaks it; nothing is ever cut.  Short text is `text` with such a CHECK, long
--    text (LONGTEXT) is `varchar` without width;
--  - identifiers are the names folded to lower case; names longer than
--    the server's 63 bytes get a hashed identifier, and kiv_table_names
--    keeps every table's name as the library gave it.

CREATE COLLATION kiv_nocase (provider = icu, locale = 'und-u-ks-level2', deterministic = false);

CREATE FUNCTION kiv_check(ok boolean, refusal text) RETURNS boolean
LANGUAGE plpgsql IMMUTABLE AS $$
BEGIN
  IF NOT ok THEN
    RAISE EXCEPTION USING MESSAGE = refusal, ERRCODE = 'check_violation';
  END IF;
  RETURN true;
END
$$;

CREATE TABLE kiv_table_names (
  ident text PRIMARY KEY,
  name  text NOT NULL
);

CREATE TABLE plc_manufacturer (
  "manufacturer"  text COLLATE kiv_nocase CHECK (char_length("manufacturer") <= 255 OR kiv_check(char_length("manufacturer") <= 255, 'MANUFACTURER holds at most 255 characters')),
  "series"        text COLLATE kiv_nocase CHECK (char_length("series") <= 255 OR kiv_check(char_length("series") <= 255, 'SERIES holds at most 255 characters')),
  "type"          text COLLATE kiv_nocase CHECK (char_length("type") <= 255 OR kiv_check(char_length("type") <= 255, 'TYPE holds at most 255 characters')),
  "table_name"    text COLLATE kiv_nocase CHECK (char_length("table_name") <= 255 OR kiv_check(char_length("table_name") <= 255, 'TABLE_NAME holds at most 255 characters'))
);

CREATE TABLE plc_styles (
  "style"                   bigint NOT NULL PRIMARY KEY CHECK ("style" BETWEEN -2147483648 AND 2147483647 OR kiv_check("style" BETWEEN -2147483648 AND 2147483647, 'STYLE takes whole numbers from -2147483648 to 2147483647 (INTEGER)')),
  "box_right"               text COLLATE kiv_nocase CHECK (char_length("box_right") <= 60 OR kiv_check(char_length("box_right") <= 60, 'BOX_RIGHT holds at most 60 characters')),
  "box_left"                text COLLATE kiv_nocase CHECK (char_length("box_left") <= 60 OR kiv_check(char_length("box_left") <= 60, 'BOX_LEFT holds at most 60 characters')),
  "box_top"                 text COLLATE kiv_nocase CHECK (char_length("box_top") <= 60 OR kiv_check(char_length("box_top") <= 60, 'BOX_TOP holds at most 60 characters')),
  "box_bottom"              text COLLATE kiv_nocase CHECK (char_length("box_bottom") <= 60 OR kiv_check(char_length("box_bottom") <= 60, 'BOX_BOTTOM holds at most 60 characters')),
  "box_split_top"           text COLLATE kiv_nocase CHECK (char_length("box_split_top") <= 60 OR kiv_check(char_length("box_split_top") <= 60, 'BOX_SPLIT_TOP holds at most 60 characters')),
  "box_split_bottom"        text COLLATE kiv_nocase CHECK (char_length("box_split_bottom") <= 60 OR kiv_check(char_length("box_split_bottom") <= 60, 'BOX_SPLIT_BOTTOM holds at most 60 characters')),
  "metric_box_right"        text COLLATE kiv_nocase CHECK (char_length("metric_box_right") <= 60 OR kiv_check(char_length("metric_box_right") <= 60, 'METRIC_BOX_RIGHT holds at most 60 characters')),
  "metric_box_left"         text COLLATE kiv_nocase CHECK (char_length("metric_box_left") <= 60 OR kiv_check(char_length("metric_box_left") <= 60, 'METRIC_BOX_LEFT holds at most 60 characters')),
  "metric_box_top"          text COLLATE kiv_nocase CHECK (char_length("metric_box_top") <= 60 OR kiv_check(char_length("metric_box_top") <= 60, 'METRIC_BOX_TOP holds at most 60 characters')),
  "metric_box_bottom"       text COLLATE kiv_nocase CHECK (char_length("metric_box_bottom") <= 60 OR kiv_check(char_length("metric_box_bottom") <= 60, 'METRIC_BOX_BOTTOM holds at most 60 characters')),
  "metric_box_split_top"    text COLLATE kiv_nocase CHECK (char_length("metric_box_split_top") <= 60 OR kiv_check(char_length("metric_box_split_top") <= 60, 'METRIC_BOX_SPLIT_TOP holds at most 60 characters')),
  "metric_box_split_bottom" text COLLATE kiv_nocase CHECK (char_length("metric_box_split_bottom") <= 60 OR kiv_check(char_length("metric_box_split_bottom") <= 60, 'METRIC_BOX_SPLIT_BOTTOM holds at most 60 characters'))
);

CREATE TABLE plc_msg (
  "find"         text COLLATE kiv_nocase CHECK (char_length("find") <= 255 OR kiv_check(char_length("find") <= 255, 'FIND holds at most 255 characters')),
  "wd_msg_code"  text COLLATE kiv_nocase CHECK (char_length("wd_msg_code") <= 255 OR kiv_check(char_length("wd_msg_code") <= 255, 'WD_MSG_CODE holds at most 255 characters'))
);

INSERT INTO kiv_table_names (ident, name) VALUES
  ('plc_manufacturer', 'PLC_MANUFACTURER'),
  ('plc_styles', 'PLC_STYLES'),
  ('plc_msg', 'PLC_MSG');
