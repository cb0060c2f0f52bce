-- The history of a catalogue on a PostgreSQL server: two tables beside the
-- catalogue's and the functions and triggers that write them.  The driver
-- runs it (kivplc init, kivplc history --turn-on) in the catalogue's
-- schema, in one transaction, as the catalogue's owner, who then owns the
-- history: readers and maintainers may read it, and only the triggers,
-- whose functions run with the owner's rights (SECURITY DEFINER), write it.
--
-- One action is one change.  A client of the access component names its
-- action in the setting kiv.action, a JSON object {"token", "label",
-- "person", "reverts"}; the token is the same for every transaction of the
-- action.  Any other client (psql) sets nothing, and each of its
-- transactions is one action.  `by` is the person the component named,
-- else the server account (session_user: a maintainer's connection acts as
-- the maintainers' role, but the session stays the person's); `account` is
-- always the server account.
--
-- Inserts and deletes are recorded once per statement from its transition
-- table, so a bulk insert costs one more INSERT ... SELECT; updates once
-- per row, which pairs each row's values before and after.

CREATE SEQUENCE kivhistory_ids;

CREATE TABLE kivhistory (
  id      bigint PRIMARY KEY,
  token   text NOT NULL UNIQUE,
  at      text COLLATE "C" NOT NULL,
  by      text COLLATE kiv_nocase,
  account text COLLATE kiv_nocase,
  label   text,
  reverts text
);

CREATE TABLE kivhistoryrows (
  seq    bigserial PRIMARY KEY,
  action bigint NOT NULL,
  tbl    text COLLATE "C" NOT NULL,
  op     text NOT NULL,
  code   text COLLATE "C",
  pos    bigint,
  before jsonb,
  after  jsonb
);
CREATE INDEX kivhistoryrows_action ON kivhistoryrows (action);
-- Names and codes are found without regard to case through lower(), which
-- costs a bulk insert far less than a case-insensitive collation's index.
CREATE INDEX kivhistoryrows_code ON kivhistoryrows (lower(tbl), lower(code));

-- The key of the open action: the component's token, else the transaction's.
CREATE FUNCTION kiv_history_token() RETURNS text
LANGUAGE sql STABLE SET search_path FROM CURRENT AS $$
  SELECT coalesce(nullif(current_setting('kiv.action', true), '')::jsonb ->> 'token',
                  'tx' || pg_catalog.txid_current())
$$;

-- The open action's id, its row written on its first change.
CREATE FUNCTION kiv_history_action() RETURNS bigint
LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$
DECLARE
  key text := kiv_history_token();
  meta jsonb := nullif(current_setting('kiv.action', true), '')::jsonb;
  aid bigint;
BEGIN
  SELECT id INTO aid FROM kivhistory WHERE token = key;
  IF FOUND THEN
    RETURN aid;
  END IF;
  INSERT INTO kivhistory (id, token, at, by, account, label, reverts)
  VALUES (nextval('kivhistory_ids'), key,
          to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"'),
          coalesce(nullif(meta ->> 'person', ''), session_user), session_user,
          nullif(meta ->> 'label', ''), nullif(meta ->> 'reverts', ''))
  ON CONFLICT (token) DO NOTHING
  RETURNING id INTO aid;
  IF aid IS NULL THEN  -- another connection of the same action wrote it first
    SELECT id INTO aid FROM kivhistory WHERE token = key;
  END IF;
  RETURN aid;
END
$$;

-- A terminal position where the row has one, else NULL.
CREATE FUNCTION kiv_history_pos(j jsonb) RETURNS bigint
LANGUAGE sql IMMUTABLE AS $$
  SELECT CASE WHEN jsonb_typeof(j -> 'sequence') = 'number' THEN (j ->> 'sequence')::bigint END
$$;

-- Rows inserted or deleted by one statement.  TG_ARGV: the table's name,
-- and the columns that hold a row's module code and terminal position
-- (NULL where it has none), read straight from the transition table.
CREATE FUNCTION kiv_history_statement() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$
DECLARE
  aid bigint;
  rows text := CASE TG_OP WHEN 'INSERT' THEN 'kiv_new' ELSE 'kiv_old' END;
  side text := CASE TG_OP WHEN 'INSERT' THEN 'after' ELSE 'before' END;
  found_any boolean;
BEGIN
  EXECUTE 'SELECT EXISTS (SELECT 1 FROM ' || rows || ')' INTO found_any;
  IF NOT found_any THEN
    RETURN NULL;
  END IF;
  aid := kiv_history_action();
  EXECUTE format('INSERT INTO kivhistoryrows (action, tbl, op, code, pos, %s) '
                 'SELECT $1, $2, $3, %s, %s, to_jsonb(r) FROM %s r', side, TG_ARGV[1], TG_ARGV[2], rows)
  USING aid, TG_ARGV[0], lower(TG_OP);
  RETURN NULL;
END
$$;

-- One row updated.
CREATE FUNCTION kiv_history_row() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$
DECLARE
  b jsonb := to_jsonb(OLD);
  a jsonb := to_jsonb(NEW);
BEGIN
  INSERT INTO kivhistoryrows (action, tbl, op, code, pos, before, after)
  VALUES (kiv_history_action(), TG_ARGV[0], 'update', coalesce(a ->> 'code', b ->> 'code'),
          coalesce(kiv_history_pos(a), kiv_history_pos(b)), b, a);
  RETURN NULL;
END
$$;

-- A table's creation or removal, with what brings it back.
CREATE FUNCTION kiv_history_record(name text, op text, before jsonb, after jsonb) RETURNS void
LANGUAGE sql SECURITY DEFINER SET search_path FROM CURRENT AS $$
  INSERT INTO kivhistoryrows (action, tbl, op, before, after) VALUES (kiv_history_action(), name, op, before, after)
$$;

-- The table's name as the library gave it.
CREATE FUNCTION kiv_history_name(ident text) RETURNS text
LANGUAGE sql STABLE SET search_path FROM CURRENT AS $$
  SELECT coalesce((SELECT name FROM kiv_table_names WHERE kiv_table_names.ident = $1), $1)
$$;

-- The server's identifier of a table the library named `name`.
CREATE FUNCTION kiv_history_ident(name text) RETURNS text
LANGUAGE sql STABLE SET search_path FROM CURRENT AS $$
  SELECT coalesce((SELECT ident FROM kiv_table_names WHERE kiv_table_names.name = $1 COLLATE kiv_nocase LIMIT 1),
                  lower($1))
$$;

-- CREATE TABLE for the table as it is: columns, collations, defaults, constraints.
CREATE FUNCTION kiv_history_definition(ident text) RETURNS text
LANGUAGE sql STABLE SET search_path FROM CURRENT AS $$
  SELECT 'CREATE TABLE ' || quote_ident(c.relname) || ' (' ||
         (SELECT string_agg(quote_ident(a.attname) || ' ' || format_type(a.atttypid, a.atttypmod) ||
                            CASE WHEN a.attcollation <> 0 AND a.attcollation <> t.typcollation
                                 THEN ' COLLATE ' || quote_ident(co.collname) ELSE '' END ||
                            CASE WHEN a.attnotnull THEN ' NOT NULL' ELSE '' END ||
                            coalesce(' DEFAULT ' || pg_get_expr(d.adbin, d.adrelid), ''), ', ' ORDER BY a.attnum)
          FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid
          LEFT JOIN pg_collation co ON co.oid = a.attcollation
          LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum
          WHERE a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped) ||
         coalesce((SELECT ', ' || string_agg(pg_get_constraintdef(k.oid), ', ' ORDER BY k.contype DESC, k.conname)
                   FROM pg_constraint k WHERE k.conrelid = c.oid AND k.contype IN ('p', 'u', 'c')), '') ||
         ')'
  FROM pg_class c WHERE c.oid = to_regclass(quote_ident($1))
$$;

-- Gives the table `ident` its triggers (again, when it had them: a name
-- changed); a table that had none is recorded as created when `record`.
CREATE FUNCTION kiv_history_attach(ident text, name text, record boolean) RETURNS void
LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE
  rel regclass := to_regclass(quote_ident(ident));
  shown text := coalesce(name, kiv_history_name(ident));
  had boolean;
  code text;
  pos text;
BEGIN
  IF rel IS NULL THEN
    RETURN;
  END IF;
  had := EXISTS (SELECT 1 FROM pg_trigger WHERE tgrelid = rel AND tgname = 'kiv_history_insert');
  EXECUTE format('DROP TRIGGER IF EXISTS kiv_history_insert ON %s; DROP TRIGGER IF EXISTS kiv_history_delete ON %s; '
                 'DROP TRIGGER IF EXISTS kiv_history_update ON %s', rel, rel, rel);
  code := CASE WHEN EXISTS (SELECT 1 FROM pg_attribute WHERE attrelid = rel AND attname = 'code' AND NOT attisdropped)
               THEN 'r.code::text' ELSE 'NULL' END;
  pos := CASE WHEN EXISTS (SELECT 1 FROM pg_attribute WHERE attrelid = rel AND attname = 'sequence'
                           AND atttypid IN ('bigint'::regtype, 'integer'::regtype, 'smallint'::regtype))
              THEN 'r.sequence' ELSE 'NULL' END;
  EXECUTE format('CREATE TRIGGER kiv_history_insert AFTER INSERT ON %s REFERENCING NEW TABLE AS kiv_new '
                 'FOR EACH STATEMENT EXECUTE FUNCTION kiv_history_statement(%L, %L, %L)', rel, shown, code, pos);
  EXECUTE format('CREATE TRIGGER kiv_history_delete AFTER DELETE ON %s REFERENCING OLD TABLE AS kiv_old '
                 'FOR EACH STATEMENT EXECUTE FUNCTION kiv_history_statement(%L, %L, %L)', rel, shown, code, pos);
  EXECUTE format('CREATE TRIGGER kiv_history_update AFTER UPDATE ON %s '
                 'FOR EACH ROW EXECUTE FUNCTION kiv_history_row(%L)', rel, shown);
  IF record AND NOT had THEN
    PERFORM kiv_history_record(shown, 'create', NULL,
                               jsonb_build_object('sql', kiv_history_definition(ident), 'ident', ident, 'name', shown));
  END IF;
END
$$;

-- Before the table `ident` is dropped: its rows recorded as deleted, then
-- its definition, so that a revert brings it back whole.
CREATE FUNCTION kiv_history_detach(ident text, name text) RETURNS void
LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE
  rel regclass := to_regclass(quote_ident(ident));
  shown text := coalesce(name, kiv_history_name(ident));
BEGIN
  IF rel IS NULL THEN
    RETURN;
  END IF;
  PERFORM set_config('kiv.dropping', ident, true);
  EXECUTE format('DELETE FROM %s', rel);
  PERFORM kiv_history_record(shown, 'drop',
                             jsonb_build_object('sql', kiv_history_definition(ident), 'ident', ident, 'name', shown),
                             NULL);
END
$$;

-- The primary key's values of row `j` of `rel`, or NULL for a table without one.
CREATE FUNCTION kiv_history_key(rel regclass, j jsonb) RETURNS jsonb
LANGUAGE sql STABLE SET search_path FROM CURRENT AS $$
  SELECT jsonb_object_agg(a.attname, j -> a.attname::text)
  FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = ANY (i.indkey)
  WHERE i.indrelid = rel AND i.indisprimary
$$;

-- The row of `ident` that holds exactly `j`; with `force`, else the row
-- with the same key.  NULL when there is none.
CREATE FUNCTION kiv_history_find(ident text, j jsonb, force boolean) RETURNS tid
LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE
  found tid;
  key jsonb;
BEGIN
  EXECUTE format('SELECT ctid FROM %I x WHERE to_jsonb(x) = $1 LIMIT 1', ident) INTO found USING j;
  IF found IS NULL AND force THEN
    key := kiv_history_key(to_regclass(quote_ident(ident)), j);
    IF key IS NOT NULL THEN
      EXECUTE format('SELECT ctid FROM %I x WHERE to_jsonb(x) @> $1 LIMIT 1', ident) INTO found USING key;
    END IF;
  END IF;
  RETURN found;
END
$$;

-- Undoes the actions `ids`, all or none, as the open action.  Refuses
-- without changing anything: `conflict` names the later action that
-- touched what `reverted` did, or, with `conflict` 0, `reverted` is an id
-- the history does not hold.  A row that is no longer as the action left it
-- raises, unless `force` finds it by its key; with `force` a row found
-- neither way stays as it is.
CREATE FUNCTION kiv_history_revert(ids bigint[], force boolean, OUT action bigint, OUT conflict bigint,
                                   OUT reverted bigint, OUT nrows bigint)
LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE
  targets bigint[] := ARRAY(SELECT DISTINCT x FROM unnest(ids) x ORDER BY x DESC);
  target bigint;
  r record;
  ident text;
  place tid;
  cols text;
BEGIN
  action := 0; conflict := 0; reverted := 0; nrows := 0;
  FOREACH target IN ARRAY targets LOOP
    IF NOT EXISTS (SELECT 1 FROM kivhistory WHERE id = target) THEN
      reverted := target;
      RETURN;
    END IF;
    IF NOT force THEN
      SELECT min(l.action) INTO conflict
      FROM kivhistoryrows l JOIN kivhistoryrows o ON o.action = target AND lower(o.tbl) = lower(l.tbl)
      WHERE l.action > target AND l.action <> ALL (targets)
        AND (o.op IN ('create', 'drop') OR l.op IN ('create', 'drop')
             OR o.before IN (l.before, l.after) OR o.after IN (l.before, l.after));
      IF conflict IS NOT NULL THEN
        reverted := target;
        RETURN;
      END IF;
      conflict := 0;
    END IF;
  END LOOP;
  FOREACH target IN ARRAY targets LOOP
    FOR r IN SELECT * FROM kivhistoryrows WHERE kivhistoryrows.action = target ORDER BY seq DESC LOOP
      IF r.op = 'create' THEN
        ident := r.after ->> 'ident';
        PERFORM kiv_history_detach(ident, r.tbl);
        EXECUTE format('DROP TABLE %I', ident);
        DELETE FROM kiv_table_names WHERE kiv_table_names.ident = r.after ->> 'ident';
      ELSIF r.op = 'drop' THEN
        ident := r.before ->> 'ident';
        INSERT INTO kiv_table_names (ident, name) VALUES (ident, r.tbl)
        ON CONFLICT ON CONSTRAINT kiv_table_names_pkey DO UPDATE SET name = EXCLUDED.name;
        EXECUTE r.before ->> 'sql';
        PERFORM kiv_history_attach(ident, r.tbl, true);
      ELSE
        ident := kiv_history_ident(r.tbl);
        IF r.op = 'delete' THEN
          EXECUTE format('INSERT INTO %I SELECT * FROM jsonb_populate_record(NULL::%I, $1)', ident, ident)
          USING r.before;
        ELSE
          place := kiv_history_find(ident, r.after, force);
          IF place IS NULL THEN
            IF force THEN
              CONTINUE;
            END IF;
            RAISE EXCEPTION 'a row of % is no longer as change % left it, so that change cannot be undone',
                            r.tbl, target;
          END IF;
          IF r.op = 'insert' THEN
            EXECUTE format('DELETE FROM %I WHERE ctid = $1', ident) USING place;
          ELSE
            -- Only the columns the change changed: a forced revert keeps a
            -- later change's other columns.
            SELECT string_agg(quote_ident(k), ', ') INTO cols FROM jsonb_object_keys(r.before) k
            WHERE r.before -> k IS DISTINCT FROM r.after -> k;
            CONTINUE WHEN cols IS NULL;
            EXECUTE format('UPDATE %I SET (%s) = (SELECT %s FROM jsonb_populate_record(NULL::%I, $1)) WHERE ctid = $2',
                           ident, cols, cols, ident)
            USING r.before, place;
          END IF;
        END IF;
      END IF;
      nrows := nrows + 1;
    END LOOP;
  END LOOP;
  SELECT id INTO action FROM kivhistory WHERE token = kiv_history_token();
  action := coalesce(action, 0);
END
$$;

-- With an event trigger (which only a superuser may create), a table made
-- in the schema by any client gets its triggers, and one dropped by a
-- client other than the component is refused: its rows would be lost to
-- the history.
CREATE FUNCTION kiv_history_created() RETURNS event_trigger
LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE
  c record;
BEGIN
  FOR c IN SELECT * FROM pg_event_trigger_ddl_commands()
           WHERE command_tag = 'CREATE TABLE' AND schema_name = current_schema() LOOP
    IF c.objid::regclass::text NOT IN ('kivhistory', 'kivhistoryrows', 'kiv_table_names') THEN
      PERFORM kiv_history_attach((SELECT relname FROM pg_class WHERE oid = c.objid), NULL, true);
    END IF;
  END LOOP;
END
$$;

CREATE FUNCTION kiv_history_dropped() RETURNS event_trigger
LANGUAGE plpgsql SET search_path FROM CURRENT AS $$
DECLARE
  d record;
BEGIN
  IF EXISTS (SELECT 1 FROM pg_event_trigger_dropped_objects()
             WHERE object_type = 'schema' AND object_name = current_schema()) THEN
    RETURN;  -- the whole catalogue goes
  END IF;
  FOR d IN SELECT * FROM pg_event_trigger_dropped_objects()
           WHERE object_type = 'table' AND schema_name = current_schema()
             AND object_name IS DISTINCT FROM current_setting('kiv.dropping', true) LOOP
    IF d.object_name IN ('kivhistory', 'kivhistoryrows') THEN
      CONTINUE;  -- the history itself, turned off by its owner
    END IF;
    RAISE EXCEPTION 'table % keeps its history: remove the type with kivplc, which records its rows first',
                    d.object_name;
  END LOOP;
END
$$;

-- The history is written through the triggers: the functions that write it
-- with the owner's rights are not everyone's to call.  The catalogue's
-- maintainers, where it has roles, may record the tables they create and
-- drop (PostgresRoles.cpp grants it).
REVOKE EXECUTE ON FUNCTION kiv_history_action() FROM PUBLIC;
REVOKE EXECUTE ON FUNCTION kiv_history_record(text, text, jsonb, jsonb) FROM PUBLIC;

DO $$
DECLARE
  schema text := current_schema();
  tag text := (SELECT oid::text FROM pg_namespace WHERE nspname = current_schema());
BEGIN
  IF (SELECT rolsuper FROM pg_roles WHERE rolname = current_user) THEN
    EXECUTE format('CREATE EVENT TRIGGER %I ON ddl_command_end WHEN TAG IN (''CREATE TABLE'') '
                   'EXECUTE FUNCTION %I.kiv_history_created()', 'kiv_history_created_' || tag, schema);
    EXECUTE format('CREATE EVENT TRIGGER %I ON sql_drop WHEN TAG IN (''DROP TABLE'') '
                   'EXECUTE FUNCTION %I.kiv_history_dropped()', 'kiv_history_dropped_' || tag, schema);
  END IF;
END
$$;
