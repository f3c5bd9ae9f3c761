-- Quelvar stock control: database schema.
--
-- The server creates no tables; this file is the database it expects, and
-- `quelvar-server --create-database` runs it once on a new, empty file.
-- It is plain SQL for SQLite 3.40 or later, with no transaction statements of
-- its own: the loader may wrap it in one.
--
-- Conventions
--   * Declared types decide the field types of query replies, so they are kept
--     to a small set: INTEGER PRIMARY KEY for keys (a plain integer field in
--     replies; never AUTOINCREMENT, which would turn keys into quoted texts),
--     INTEGER for other integers, TEXT for texts, REAL for quantities and
--     values, BOOLEAN NOT NULL DEFAULT 0 for flags, DATE for dates.
--   * Dates are stored as text "YYYY-MM-DD". Deletion stamps, conversion marks
--     and backup dates are written as dates without a time of day, so every
--     date column is declared DATE.
--   * Keys are row ids handed out by the engine on insert. Rows of registers
--     and document headers are never removed (deletion only stamps the
--     `_Exclusao` date and the `_ExcluidoPor` user), so a number is never
--     handed out twice. Item rows and access rights have no key of their own.
--   * No FOREIGN KEY clauses: items may be saved under a document number that
--     has no header, and 0 stands for "none" in several reference columns.
--     Reference columns are indexed instead.
--   * A column name ending in `_Saldo` must never be added to T05_LOTE or
--     T04_MATE: the lot lookups filter on the computed `T05_Saldo` of their
--     select list, which a real column of that name would shadow.

--------------------------------------------------------------------------------
-- Users and access rights
--------------------------------------------------------------------------------

CREATE TABLE T01_USUA (
  T01_NumUsuario   INTEGER PRIMARY KEY,
  T01_Usuario      TEXT,                         -- unique among live users (checked on save)
  T01_Senha        TEXT,                         -- as sent by the client
  T01_Desativado   BOOLEAN NOT NULL DEFAULT 0,
  T01_Exclusao     DATE,
  T01_ExcluidoPor  INTEGER,
  T01_NumSetor     INTEGER                       -- T09_SETO
);

-- One row per action a user may perform; replaced as a whole on save.
CREATE TABLE T02_ACES (
  T02_NumUsuario   INTEGER,                      -- T01_USUA
  T02_Acao         TEXT
);

--------------------------------------------------------------------------------
-- System configuration: exactly one row, created below
--------------------------------------------------------------------------------

CREATE TABLE T03_CONF (
  T03_Rodape          TEXT,
  T03_MargemSup       INTEGER,
  T03_RelTelaParcial  BOOLEAN NOT NULL DEFAULT 0,
  T03_PastaBackup     TEXT,
  T03_ArqFoto         TEXT,
  T03_CasasDecV       INTEGER,                   -- decimal places of values
  T03_CasasDecQ       INTEGER,                   -- decimal places of quantities
  T03_CriarAtalho     BOOLEAN NOT NULL DEFAULT 0,
  T03_AvisoEstqMin    BOOLEAN NOT NULL DEFAULT 0,
  T03_UltimoBackup    DATE                       -- written by the server after each backup
);

--------------------------------------------------------------------------------
-- Materials and lots
--------------------------------------------------------------------------------

CREATE TABLE T04_MATE (
  T04_NumMaterial  INTEGER PRIMARY KEY,
  T04_NumGrupo     INTEGER,                      -- T06_GRUP
  T04_Material     TEXT,                         -- unique among live materials (checked on save)
  T04_CustoMedio   REAL,                         -- stored average cost; 0 on insert
  T04_EstqMinimo   REAL,
  T04_EstqIdeal    REAL,
  T04_Peso         REAL,
  T04_Unidade      TEXT,
  T04_CodBarra     TEXT,                         -- unique among live materials when not blank
  T04_NCM          TEXT,
  T04_Obs1         TEXT,
  T04_Obs2         TEXT,
  T04_Desativado   BOOLEAN NOT NULL DEFAULT 0,
  T04_UsaLote      BOOLEAN NOT NULL DEFAULT 0,   -- the server writes 1 on insert
  T04_Exclusao     DATE,
  T04_ExcluidoPor  INTEGER
);

-- A lot is created by the first entry that receives its name for a material.
-- T05_Entradas, T05_Saidas and T05_Custo belong to the database: the triggers
-- at the end of this file keep them current from the document items.
CREATE TABLE T05_LOTE (
  T05_NumLote      INTEGER PRIMARY KEY,
  T05_Lote         TEXT,                         -- unique per material among live lots
  T05_NumMaterial  INTEGER,                      -- T04_MATE
  T05_Validade     DATE,
  T05_Local        TEXT,
  T05_Custo        REAL DEFAULT 0,               -- unit cost (trigger-kept)
  T05_Entradas     REAL DEFAULT 0,               -- quantity received (trigger-kept)
  T05_Saidas       REAL DEFAULT 0,               -- quantity gone out (trigger-kept)
  T05_Obs1         TEXT,
  T05_Obs2         TEXT,
  T05_Desativado   BOOLEAN NOT NULL DEFAULT 0,
  T05_Exclusao     DATE,
  T05_ExcluidoPor  INTEGER
);

--------------------------------------------------------------------------------
-- Registers: groups, cost centres, suppliers, sectors
--------------------------------------------------------------------------------

CREATE TABLE T06_GRUP (
  T06_NumGrupo     INTEGER PRIMARY KEY,
  T06_Grupo        TEXT,
  T06_Desativado   BOOLEAN NOT NULL DEFAULT 0,
  T06_Exclusao     DATE,
  T06_ExcluidoPor  INTEGER
);

CREATE TABLE T07_CENC (
  T07_NumCC        INTEGER PRIMARY KEY,
  T07_CentroCusto  TEXT,
  T07_Desativado   BOOLEAN NOT NULL DEFAULT 0,
  T07_Exclusao     DATE,
  T07_ExcluidoPor  INTEGER
);

CREATE TABLE T08_FORN (
  T08_NumFornec    INTEGER PRIMARY KEY,
  T08_Fornecedor   TEXT,                         -- unique among live suppliers
  T08_RazaoSocial  TEXT,
  T08_Contato      TEXT,
  T08_CNPJ         TEXT,                         -- unique among live suppliers when not blank
  T08_Inscricao    TEXT,
  T08_Email        TEXT,
  T08_Site         TEXT,
  T08_Telefone1    TEXT,
  T08_Telefone2    TEXT,
  T08_Endereco     TEXT,
  T08_Bairro       TEXT,
  T08_Cidade       TEXT,
  T08_Estado       TEXT,
  T08_CEP          TEXT,
  T08_PontoRefer   TEXT,
  T08_Obs1         TEXT,
  T08_Obs2         TEXT,
  T08_Desativado   BOOLEAN NOT NULL DEFAULT 0,
  T08_Exclusao     DATE,
  T08_ExcluidoPor  INTEGER
);

CREATE TABLE T09_SETO (
  T09_NumSetor     INTEGER PRIMARY KEY,
  T09_Setor        TEXT,
  T09_Desativado   BOOLEAN NOT NULL DEFAULT 0,
  T09_Exclusao     DATE,
  T09_ExcluidoPor  INTEGER
);

--------------------------------------------------------------------------------
-- Orders
--------------------------------------------------------------------------------

CREATE TABLE T10_PED1 (
  T10_NumPedido     INTEGER PRIMARY KEY,
  T10_NumFornec     INTEGER,                     -- T08_FORN
  T10_Data          DATE,
  T10_VirouEntrada  DATE,                        -- set when an entry is made from the order
  T10_Obs1          TEXT,
  T10_Obs2          TEXT,
  T10_Exclusao      DATE,
  T10_ExcluidoPor   INTEGER
);

CREATE TABLE T11_PED2 (
  T11_NumPedido    INTEGER,                      -- T10_PED1
  T11_NumMaterial  INTEGER,                      -- T04_MATE
  T11_Qtd          REAL,
  T11_Valor        REAL                          -- unit value
);

--------------------------------------------------------------------------------
-- Entries
--------------------------------------------------------------------------------

CREATE TABLE T12_ENT1 (
  T12_NumEntrada   INTEGER PRIMARY KEY,
  T12_NumFornec    INTEGER,                      -- T08_FORN
  T12_NumPedido    INTEGER,                      -- T10_PED1; 0 or less when none
  T12_Data         DATE,
  T12_NF           TEXT,                         -- supplier's invoice number
  T12_Obs1         TEXT,
  T12_Obs2         TEXT,
  T12_Exclusao     DATE,
  T12_ExcluidoPor  INTEGER
);

CREATE TABLE T13_ENT2 (
  T13_NumEntrada   INTEGER,                      -- T12_ENT1
  T13_NumLote      INTEGER,                      -- T05_LOTE
  T13_Qtd          REAL,                         -- quantity received
  T13_Valor        REAL,                         -- unit value received
  T13_Exclusao     DATE                          -- stamped with the entry's deletion
);

--------------------------------------------------------------------------------
-- Requisitions
--------------------------------------------------------------------------------

CREATE TABLE T14_REQ1 (
  T14_NumRequis    INTEGER PRIMARY KEY,
  T14_NumUsuario   INTEGER,                      -- T01_USUA
  T14_Data         DATE,
  T14_VirouSaida   DATE,                         -- set when an output settles the requisition
  T14_Obs1         TEXT,
  T14_Obs2         TEXT,
  T14_Exclusao     DATE,
  T14_ExcluidoPor  INTEGER
);

CREATE TABLE T15_REQ2 (
  T15_NumRequis    INTEGER,                      -- T14_REQ1
  T15_NumMaterial  INTEGER,                      -- T04_MATE
  T15_Qtd          REAL
);

--------------------------------------------------------------------------------
-- Outputs
--------------------------------------------------------------------------------

CREATE TABLE T16_SAI1 (
  T16_NumSaida     INTEGER PRIMARY KEY,
  T16_NumCC        INTEGER,                      -- T07_CENC
  T16_NumRequis    INTEGER,                      -- T14_REQ1; 0 or less when none
  T16_Data         DATE,
  T16_NF           TEXT,
  T16_NumUsuario   INTEGER,                      -- T01_USUA; 0 when none
  T16_Obs1         TEXT,
  T16_Obs2         TEXT,
  T16_Exclusao     DATE,
  T16_ExcluidoPor  INTEGER
);

CREATE TABLE T17_SAI2 (
  T17_NumSaida     INTEGER,                      -- T16_SAI1
  T17_NumLote      INTEGER,                      -- T05_LOTE
  T17_Qtd          REAL,                         -- quantity issued
  T17_Exclusao     DATE                          -- stamped with the output's deletion
);

--------------------------------------------------------------------------------
-- Losses
--------------------------------------------------------------------------------

CREATE TABLE T18_PER1 (
  T18_NumPerda     INTEGER PRIMARY KEY,
  T18_Data         DATE,
  T18_Obs1         TEXT,
  T18_Obs2         TEXT,
  T18_Exclusao     DATE,
  T18_ExcluidoPor  INTEGER
);

CREATE TABLE T19_PER2 (
  T19_NumPerda     INTEGER,                      -- T18_PER1
  T19_NumLote      INTEGER,                      -- T05_LOTE
  T19_Qtd          REAL,                         -- quantity written off
  T19_Exclusao     DATE                          -- stamped with the loss's deletion
);

--------------------------------------------------------------------------------
-- Indexes
--
-- Every reference column used in a join, a sub-query or an in-use check; the
-- names compared for equality by the duplicate checks and lookups; the
-- document dates of the period filters; the conversion marks (open orders and
-- requisitions are few). Keys need none (row ids). Deletion dates and
-- deactivation flags are not indexed: nearly every row is live, so an index
-- on them would not narrow a search.
--------------------------------------------------------------------------------

CREATE INDEX ix_T01_USUA_T01_Usuario       ON T01_USUA (T01_Usuario);
CREATE INDEX ix_T01_USUA_T01_NumSetor      ON T01_USUA (T01_NumSetor);

CREATE INDEX ix_T02_ACES_T02_NumUsuario    ON T02_ACES (T02_NumUsuario);

CREATE INDEX ix_T04_MATE_T04_NumGrupo      ON T04_MATE (T04_NumGrupo);
CREATE INDEX ix_T04_MATE_T04_Material      ON T04_MATE (T04_Material);
CREATE INDEX ix_T04_MATE_T04_CodBarra      ON T04_MATE (T04_CodBarra);

CREATE INDEX ix_T05_LOTE_T05_NumMaterial   ON T05_LOTE (T05_NumMaterial);
CREATE INDEX ix_T05_LOTE_T05_Lote          ON T05_LOTE (T05_Lote);

CREATE INDEX ix_T06_GRUP_T06_Grupo         ON T06_GRUP (T06_Grupo);
CREATE INDEX ix_T07_CENC_T07_CentroCusto   ON T07_CENC (T07_CentroCusto);
CREATE INDEX ix_T08_FORN_T08_Fornecedor    ON T08_FORN (T08_Fornecedor);
CREATE INDEX ix_T08_FORN_T08_CNPJ          ON T08_FORN (T08_CNPJ);
CREATE INDEX ix_T09_SETO_T09_Setor         ON T09_SETO (T09_Setor);

CREATE INDEX ix_T10_PED1_T10_NumFornec     ON T10_PED1 (T10_NumFornec);
CREATE INDEX ix_T10_PED1_T10_Data          ON T10_PED1 (T10_Data);
CREATE INDEX ix_T10_PED1_T10_VirouEntrada  ON T10_PED1 (T10_VirouEntrada);
CREATE INDEX ix_T11_PED2_T11_NumPedido     ON T11_PED2 (T11_NumPedido);
CREATE INDEX ix_T11_PED2_T11_NumMaterial   ON T11_PED2 (T11_NumMaterial);

CREATE INDEX ix_T12_ENT1_T12_NumFornec     ON T12_ENT1 (T12_NumFornec);
CREATE INDEX ix_T12_ENT1_T12_Data          ON T12_ENT1 (T12_Data);
CREATE INDEX ix_T13_ENT2_T13_NumEntrada    ON T13_ENT2 (T13_NumEntrada);
CREATE INDEX ix_T13_ENT2_T13_NumLote       ON T13_ENT2 (T13_NumLote);

CREATE INDEX ix_T14_REQ1_T14_NumUsuario    ON T14_REQ1 (T14_NumUsuario);
CREATE INDEX ix_T14_REQ1_T14_Data          ON T14_REQ1 (T14_Data);
CREATE INDEX ix_T14_REQ1_T14_VirouSaida    ON T14_REQ1 (T14_VirouSaida);
CREATE INDEX ix_T15_REQ2_T15_NumRequis     ON T15_REQ2 (T15_NumRequis);
CREATE INDEX ix_T15_REQ2_T15_NumMaterial   ON T15_REQ2 (T15_NumMaterial);

CREATE INDEX ix_T16_SAI1_T16_NumCC         ON T16_SAI1 (T16_NumCC);
CREATE INDEX ix_T16_SAI1_T16_NumUsuario    ON T16_SAI1 (T16_NumUsuario);
CREATE INDEX ix_T16_SAI1_T16_Data          ON T16_SAI1 (T16_Data);
CREATE INDEX ix_T17_SAI2_T17_NumSaida      ON T17_SAI2 (T17_NumSaida);
CREATE INDEX ix_T17_SAI2_T17_NumLote       ON T17_SAI2 (T17_NumLote);

CREATE INDEX ix_T18_PER1_T18_Data          ON T18_PER1 (T18_Data);
CREATE INDEX ix_T19_PER2_T19_NumPerda      ON T19_PER2 (T19_NumPerda);
CREATE INDEX ix_T19_PER2_T19_NumLote       ON T19_PER2 (T19_NumLote);

--------------------------------------------------------------------------------
-- Lot upkeep
--
-- The server creates a lot with zero quantities and never writes its figures
-- again, yet reports every balance and cost from them. The database keeps
-- them current: each figure is recomputed from the live item rows whenever
-- an item row, or the deletion stamp of its document, changes.
--
-- An item row is live when its own deletion date is null AND it belongs to a
-- document header that exists and whose deletion date is null. (Deleting a
-- document stamps the header first and the items after, in one transaction;
-- items saved under a number that has no header count for nothing, exactly as
-- every list and check of the server ignores them.)
--
--   T05_Entradas = sum of T13_Qtd over the live entry items of the lot.
--   T05_Saidas   = sum of T17_Qtd over the live output items of the lot
--                + sum of T19_Qtd over the live loss items of the lot
--                  (a loss takes stock out of the lot just as an output does;
--                  the balance T05_Entradas - T05_Saidas is what is left).
--   T05_Custo    = unit cost: the quantity-weighted mean of the unit values
--                  received, sum(T13_Qtd * T13_Valor) / sum(T13_Qtd) over the
--                  live entry items of the lot; 0 when those quantities add up
--                  to 0 (no live receipt). A null value counts as 0.
--
-- With this definition the material's average cost, weighted by T05_Entradas
-- over its lots, equals the weighted mean of all its live receipts.
-- Deactivated and deleted lots are kept current like any other.
--
-- Triggers:
--   entry items   T13_ENT2  insert / delete / update   -> received and cost
--   entry header  T12_ENT1  insert / delete / update of number or deletion date
--   output items  T17_SAI2  insert / delete / update   -> gone out
--   output header T16_SAI1  insert / delete / update of number or deletion date
--   loss items    T19_PER2  insert / delete / update   -> gone out
--   loss header   T18_PER1  insert / delete / update of number or deletion date
--   lot           T05_LOTE  insert: a new lot starts from whatever live items
--                           already name its number (normally none).
-- Header triggers on update fire only when the document becomes live or
-- deleted (or changes number): stamping an already deleted document again
-- changes nothing. The triggers only update T05_LOTE, so they leave
-- last_insert_rowid() of the server's own inserts untouched.
--------------------------------------------------------------------------------

-- Entries: received quantity and unit cost ----------------------------------

CREATE TRIGGER trg_T13_ENT2_insert AFTER INSERT ON T13_ENT2
BEGIN
  UPDATE T05_LOTE
     SET (T05_Entradas, T05_Custo) =
         (SELECT Total(T13_Qtd),
                 CASE WHEN Total(T13_Qtd) <> 0
                      THEN Total(T13_Qtd * Coalesce(T13_Valor, 0)) / Total(T13_Qtd)
                      ELSE 0.0 END
            FROM T13_ENT2, T12_ENT1
           WHERE T13_NumLote    = T05_NumLote
             AND T13_Exclusao   IS NULL
             AND T12_NumEntrada = T13_NumEntrada
             AND T12_Exclusao   IS NULL)
   WHERE T05_NumLote = NEW.T13_NumLote;
END;

CREATE TRIGGER trg_T13_ENT2_delete AFTER DELETE ON T13_ENT2
BEGIN
  UPDATE T05_LOTE
     SET (T05_Entradas, T05_Custo) =
         (SELECT Total(T13_Qtd),
                 CASE WHEN Total(T13_Qtd) <> 0
                      THEN Total(T13_Qtd * Coalesce(T13_Valor, 0)) / Total(T13_Qtd)
                      ELSE 0.0 END
            FROM T13_ENT2, T12_ENT1
           WHERE T13_NumLote    = T05_NumLote
             AND T13_Exclusao   IS NULL
             AND T12_NumEntrada = T13_NumEntrada
             AND T12_Exclusao   IS NULL)
   WHERE T05_NumLote = OLD.T13_NumLote;
END;

CREATE TRIGGER trg_T13_ENT2_update
AFTER UPDATE OF T13_NumEntrada, T13_NumLote, T13_Qtd, T13_Valor, T13_Exclusao ON T13_ENT2
BEGIN
  UPDATE T05_LOTE
     SET (T05_Entradas, T05_Custo) =
         (SELECT Total(T13_Qtd),
                 CASE WHEN Total(T13_Qtd) <> 0
                      THEN Total(T13_Qtd * Coalesce(T13_Valor, 0)) / Total(T13_Qtd)
                      ELSE 0.0 END
            FROM T13_ENT2, T12_ENT1
           WHERE T13_NumLote    = T05_NumLote
             AND T13_Exclusao   IS NULL
             AND T12_NumEntrada = T13_NumEntrada
             AND T12_Exclusao   IS NULL)
   WHERE T05_NumLote IN (OLD.T13_NumLote, NEW.T13_NumLote);
END;

CREATE TRIGGER trg_T12_ENT1_insert AFTER INSERT ON T12_ENT1
BEGIN
  UPDATE T05_LOTE
     SET (T05_Entradas, T05_Custo) =
         (SELECT Total(T13_Qtd),
                 CASE WHEN Total(T13_Qtd) <> 0
                      THEN Total(T13_Qtd * Coalesce(T13_Valor, 0)) / Total(T13_Qtd)
                      ELSE 0.0 END
            FROM T13_ENT2, T12_ENT1
           WHERE T13_NumLote    = T05_NumLote
             AND T13_Exclusao   IS NULL
             AND T12_NumEntrada = T13_NumEntrada
             AND T12_Exclusao   IS NULL)
   WHERE T05_NumLote IN (SELECT T13_NumLote FROM T13_ENT2
                          WHERE T13_NumEntrada = NEW.T12_NumEntrada);
END;

CREATE TRIGGER trg_T12_ENT1_delete AFTER DELETE ON T12_ENT1
BEGIN
  UPDATE T05_LOTE
     SET (T05_Entradas, T05_Custo) =
         (SELECT Total(T13_Qtd),
                 CASE WHEN Total(T13_Qtd) <> 0
                      THEN Total(T13_Qtd * Coalesce(T13_Valor, 0)) / Total(T13_Qtd)
                      ELSE 0.0 END
            FROM T13_ENT2, T12_ENT1
           WHERE T13_NumLote    = T05_NumLote
             AND T13_Exclusao   IS NULL
             AND T12_NumEntrada = T13_NumEntrada
             AND T12_Exclusao   IS NULL)
   WHERE T05_NumLote IN (SELECT T13_NumLote FROM T13_ENT2
                          WHERE T13_NumEntrada = OLD.T12_NumEntrada);
END;

CREATE TRIGGER trg_T12_ENT1_update
AFTER UPDATE OF T12_NumEntrada, T12_Exclusao ON T12_ENT1
WHEN (OLD.T12_Exclusao IS NULL) <> (NEW.T12_Exclusao IS NULL)
  OR OLD.T12_NumEntrada <> NEW.T12_NumEntrada
BEGIN
  UPDATE T05_LOTE
     SET (T05_Entradas, T05_Custo) =
         (SELECT Total(T13_Qtd),
                 CASE WHEN Total(T13_Qtd) <> 0
                      THEN Total(T13_Qtd * Coalesce(T13_Valor, 0)) / Total(T13_Qtd)
                      ELSE 0.0 END
            FROM T13_ENT2, T12_ENT1
           WHERE T13_NumLote    = T05_NumLote
             AND T13_Exclusao   IS NULL
             AND T12_NumEntrada = T13_NumEntrada
             AND T12_Exclusao   IS NULL)
   WHERE T05_NumLote IN (SELECT T13_NumLote FROM T13_ENT2
                          WHERE T13_NumEntrada IN (OLD.T12_NumEntrada, NEW.T12_NumEntrada));
END;

-- Outputs and losses: quantity gone out -------------------------------------
-- T05_Saidas always adds both kinds, so the six triggers share one formula.

CREATE TRIGGER trg_T17_SAI2_insert AFTER INSERT ON T17_SAI2
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote = NEW.T17_NumLote;
END;

CREATE TRIGGER trg_T17_SAI2_delete AFTER DELETE ON T17_SAI2
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote = OLD.T17_NumLote;
END;

CREATE TRIGGER trg_T17_SAI2_update
AFTER UPDATE OF T17_NumSaida, T17_NumLote, T17_Qtd, T17_Exclusao ON T17_SAI2
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote IN (OLD.T17_NumLote, NEW.T17_NumLote);
END;

CREATE TRIGGER trg_T16_SAI1_insert AFTER INSERT ON T16_SAI1
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote IN (SELECT T17_NumLote FROM T17_SAI2
                          WHERE T17_NumSaida = NEW.T16_NumSaida);
END;

CREATE TRIGGER trg_T16_SAI1_delete AFTER DELETE ON T16_SAI1
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote IN (SELECT T17_NumLote FROM T17_SAI2
                          WHERE T17_NumSaida = OLD.T16_NumSaida);
END;

CREATE TRIGGER trg_T16_SAI1_update
AFTER UPDATE OF T16_NumSaida, T16_Exclusao ON T16_SAI1
WHEN (OLD.T16_Exclusao IS NULL) <> (NEW.T16_Exclusao IS NULL)
  OR OLD.T16_NumSaida <> NEW.T16_NumSaida
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote IN (SELECT T17_NumLote FROM T17_SAI2
                          WHERE T17_NumSaida IN (OLD.T16_NumSaida, NEW.T16_NumSaida));
END;

CREATE TRIGGER trg_T19_PER2_insert AFTER INSERT ON T19_PER2
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote = NEW.T19_NumLote;
END;

CREATE TRIGGER trg_T19_PER2_delete AFTER DELETE ON T19_PER2
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote = OLD.T19_NumLote;
END;

CREATE TRIGGER trg_T19_PER2_update
AFTER UPDATE OF T19_NumPerda, T19_NumLote, T19_Qtd, T19_Exclusao ON T19_PER2
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote IN (OLD.T19_NumLote, NEW.T19_NumLote);
END;

CREATE TRIGGER trg_T18_PER1_insert AFTER INSERT ON T18_PER1
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote IN (SELECT T19_NumLote FROM T19_PER2
                          WHERE T19_NumPerda = NEW.T18_NumPerda);
END;

CREATE TRIGGER trg_T18_PER1_delete AFTER DELETE ON T18_PER1
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote IN (SELECT T19_NumLote FROM T19_PER2
                          WHERE T19_NumPerda = OLD.T18_NumPerda);
END;

CREATE TRIGGER trg_T18_PER1_update
AFTER UPDATE OF T18_NumPerda, T18_Exclusao ON T18_PER1
WHEN (OLD.T18_Exclusao IS NULL) <> (NEW.T18_Exclusao IS NULL)
  OR OLD.T18_NumPerda <> NEW.T18_NumPerda
BEGIN
  UPDATE T05_LOTE
     SET T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote IN (SELECT T19_NumLote FROM T19_PER2
                          WHERE T19_NumPerda IN (OLD.T18_NumPerda, NEW.T18_NumPerda));
END;

-- New lot: start from the live items that already carry its number ----------

CREATE TRIGGER trg_T05_LOTE_insert AFTER INSERT ON T05_LOTE
BEGIN
  UPDATE T05_LOTE
     SET (T05_Entradas, T05_Custo) =
         (SELECT Total(T13_Qtd),
                 CASE WHEN Total(T13_Qtd) <> 0
                      THEN Total(T13_Qtd * Coalesce(T13_Valor, 0)) / Total(T13_Qtd)
                      ELSE 0.0 END
            FROM T13_ENT2, T12_ENT1
           WHERE T13_NumLote    = T05_NumLote
             AND T13_Exclusao   IS NULL
             AND T12_NumEntrada = T13_NumEntrada
             AND T12_Exclusao   IS NULL),
         T05_Saidas =
         (SELECT Total(T17_Qtd) FROM T17_SAI2, T16_SAI1
           WHERE T17_NumLote = T05_NumLote AND T17_Exclusao IS NULL
             AND T16_NumSaida = T17_NumSaida AND T16_Exclusao IS NULL)
       + (SELECT Total(T19_Qtd) FROM T19_PER2, T18_PER1
           WHERE T19_NumLote = T05_NumLote AND T19_Exclusao IS NULL
             AND T18_NumPerda = T19_NumPerda AND T18_Exclusao IS NULL)
   WHERE T05_NumLote = NEW.T05_NumLote;
END;

--------------------------------------------------------------------------------
-- Starting data: the one configuration row
--------------------------------------------------------------------------------

INSERT INTO T03_CONF
  (T03_Rodape, T03_MargemSup, T03_RelTelaParcial, T03_PastaBackup, T03_ArqFoto,
   T03_CasasDecV, T03_CasasDecQ, T03_CriarAtalho, T03_AvisoEstqMin, T03_UltimoBackup)
VALUES
  ('', 0, 0, '', '',
   2, 2, 1, 1, NULL);
