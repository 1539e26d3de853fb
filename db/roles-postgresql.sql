-- Quadrivel on a shared PostgreSQL server: two group roles, to be run by the
-- database's owner in the database made from db/schema.sql (psql -d quadrivel
-- -f db/roles-postgresql.sql). It may be run again: existing roles are kept,
-- their rights set anew.
--
--   quadrivel_lecteur  reads every table, writes none;
--   quadrivel_admin    also adds and deletes levels and their agencies
--                      (dim_niveau, niveau_agence).
--
-- Each person then gets a login role in one of them, for example:
--   CREATE ROLE mdupont LOGIN PASSWORD '...' IN ROLE quadrivel_lecteur;
--   CREATE ROLE jmartin LOGIN PASSWORD '...' IN ROLE quadrivel_admin;

DO $$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'quadrivel_lecteur') THEN
        CREATE ROLE quadrivel_lecteur NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'quadrivel_admin') THEN
        CREATE ROLE quadrivel_admin NOLOGIN;
    END IF;
END
$$;

GRANT USAGE ON SCHEMA public TO quadrivel_lecteur, quadrivel_admin;

REVOKE ALL ON dim_utilisateur, dim_agence, dim_fournisseur, dim_niveau, niveau_agence, data
    FROM quadrivel_lecteur, quadrivel_admin;
GRANT SELECT ON dim_utilisateur, dim_agence, dim_fournisseur, dim_niveau, niveau_agence, data
    TO quadrivel_lecteur, quadrivel_admin;

-- The administration windows take a lock on both tables before they write
-- (LOCK TABLE ... IN SHARE ROW EXCLUSIVE MODE, which needs DELETE), then
-- insert or delete rows.
GRANT INSERT, DELETE ON dim_niveau, niveau_agence TO quadrivel_admin;
