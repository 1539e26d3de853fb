-- Quadrivel database: six tables, valid for SQLite and PostgreSQL.
--
-- The fact table `data` holds one value of one indicator per month, agency,
-- user, supplier and file. The program only sums it; it writes only
-- dim_niveau and niveau_agence.

CREATE TABLE dim_utilisateur (
    code    VARCHAR(64)  NOT NULL PRIMARY KEY,
    libelle VARCHAR(255) NOT NULL
);

CREATE TABLE dim_agence (
    code    VARCHAR(64)  NOT NULL PRIMARY KEY,
    libelle VARCHAR(255) NOT NULL
);

CREATE TABLE dim_fournisseur (
    code    VARCHAR(64)  NOT NULL PRIMARY KEY,
    libelle VARCHAR(255) NOT NULL
);

-- A level is identified by the user who heads it: one level per user.
CREATE TABLE dim_niveau (
    code    VARCHAR(64)  NOT NULL PRIMARY KEY,
    libelle VARCHAR(255) NOT NULL
);

-- One link per level and agency; an agency may be linked to several levels.
CREATE TABLE niveau_agence (
    niveau VARCHAR(64) NOT NULL,
    agence VARCHAR(64) NOT NULL,
    PRIMARY KEY (niveau, agence)
);

CREATE TABLE data (
    code_account    VARCHAR(64) NOT NULL,
    period_year     INTEGER     NOT NULL,
    period_month    INTEGER     NOT NULL,
    dim_agence      VARCHAR(64) NOT NULL,
    dim_utilisateur VARCHAR(64) NOT NULL,
    dim_fournisseur VARCHAR(64) NOT NULL,
    dim_dossier     VARCHAR(64) NOT NULL,
    valeur          DOUBLE PRECISION
);

-- The summing statements compare code_account, period_year and period_month
-- for equality, then restrict the agency (one code or a level's agencies),
-- the user and the supplier: these indexes hold every column they read, with
-- valeur last, so that a sum never touches the table itself.
CREATE INDEX data_sum_user ON data
    (code_account, period_year, period_month, dim_agence, dim_utilisateur, dim_fournisseur, valeur);
CREATE INDEX data_sum_supplier ON data
    (code_account, period_year, period_month, dim_agence, dim_fournisseur, valeur);

-- The users of an agency for a month.
CREATE INDEX data_agency_users ON data
    (dim_agence, period_year, period_month, dim_utilisateur);

-- The agencies of a level, and the links of an agency.
CREATE INDEX niveau_agence_agence ON niveau_agence (agence, niveau);
