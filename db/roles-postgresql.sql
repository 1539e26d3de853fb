-- Quadrivel on a shared PostgreSQL server: two group roles, the user code of
-- each login, and row-level security so that the server, not the code typed
-- at start-up, decides which figures each login reads. To be run by the
-- database's owner in the database made from db/schema.sql (psql -d
-- quadrivel -f db/roles-postgresql.sql). It may be run again: existing roles
-- and mappings are kept, rights and policies set anew.
--
--   quadrivel_lecteur  reads the levels its user code heads, their agencies
--                      and those agencies' figures; writes nothing;
--   quadrivel_admin    reads everything, and also adds and deletes levels and
--                      their agencies (dim_niveau, niveau_agence).
--
-- Each person then gets a login role in one of them, and the owner maps each
-- login to the user code it stands for (a head of level's code):
--   CREATE ROLE lnord LOGIN PASSWORD '...' IN ROLE quadrivel_lecteur;
--   INSERT INTO acces_utilisateur (login, code) VALUES ('lnord', 'U001');
--   CREATE ROLE jmartin LOGIN PASSWORD '...' IN ROLE quadrivel_admin;
--
-- The rights follow the session's login (session_user), so that SET ROLE to
-- another role widens nothing. The owner, who loads the figures, is not
-- restricted. The labels (dim_agence, dim_utilisateur, dim_fournisseur) stay
-- readable to both roles.

SET client_min_messages = warning;

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

-- Each login and the user code it stands for; filled by the owner.
CREATE TABLE IF NOT EXISTS acces_utilisateur (
    login VARCHAR(64) NOT NULL PRIMARY KEY,
    code  VARCHAR(64) NOT NULL
);

GRANT USAGE ON SCHEMA public TO quadrivel_lecteur, quadrivel_admin;

REVOKE ALL ON dim_utilisateur, dim_agence, dim_fournisseur, dim_niveau, niveau_agence, data,
    acces_utilisateur FROM quadrivel_lecteur, quadrivel_admin;
GRANT SELECT ON dim_utilisateur, dim_agence, dim_fournisseur, dim_niveau, niveau_agence, data,
    acces_utilisateur TO quadrivel_lecteur, quadrivel_admin;

-- The administration windows take a lock on both tables before they write
-- (LOCK TABLE ... IN SHARE ROW EXCLUSIVE MODE, which needs DELETE), then
-- insert or delete rows.
GRANT INSERT, DELETE ON dim_niveau, niveau_agence TO quadrivel_admin;

-- What a reader's login may see, for the policies below. They run with the
-- owner's rights, so that they read the mapping and the links whole; each is
-- called once per statement (as "(SELECT f())", an InitPlan), not once per
-- row. In PL/pgSQL, so that their statements are planned once per session.
-- Tables are looked up in this script's schema and never among a session's
-- temporary tables.

-- The user code of the session's login; NULL without a mapping.
CREATE OR REPLACE FUNCTION quadrivel_code_connexion() RETURNS VARCHAR
    LANGUAGE plpgsql STABLE SECURITY DEFINER
AS $$
BEGIN
    RETURN (SELECT code FROM acces_utilisateur WHERE login = session_user);
END
$$;

-- The agencies of the levels the session's login heads; empty without a
-- mapping.
CREATE OR REPLACE FUNCTION quadrivel_agences_connexion() RETURNS VARCHAR[]
    LANGUAGE plpgsql STABLE SECURITY DEFINER
AS $$
BEGIN
    RETURN ARRAY(SELECT n.agence FROM acces_utilisateur a, niveau_agence n
                 WHERE a.login = session_user AND n.niveau = a.code);
END
$$;

DO $$
BEGIN
    EXECUTE format('ALTER FUNCTION quadrivel_code_connexion() SET search_path = %I, pg_temp',
                   current_schema());
    EXECUTE format('ALTER FUNCTION quadrivel_agences_connexion() SET search_path = %I, pg_temp',
                   current_schema());
END
$$;

REVOKE ALL ON FUNCTION quadrivel_code_connexion(), quadrivel_agences_connexion() FROM PUBLIC;
GRANT EXECUTE ON FUNCTION quadrivel_code_connexion(), quadrivel_agences_connexion()
    TO quadrivel_lecteur, quadrivel_admin;

-- An administrator's login reads and writes as its rights allow. Checked on
-- the session's login: a reader that may SET ROLE to quadrivel_admin
-- without being one of its members gains nothing.
DO $$
DECLARE
    t TEXT;
BEGIN
    FOREACH t IN ARRAY ARRAY['data', 'dim_niveau', 'niveau_agence', 'acces_utilisateur'] LOOP
        EXECUTE format('ALTER TABLE %I ENABLE ROW LEVEL SECURITY', t);
        EXECUTE format('DROP POLICY IF EXISTS quadrivel_admin ON %I', t);
        EXECUTE format('CREATE POLICY quadrivel_admin ON %I TO quadrivel_admin'
                       ' USING (pg_has_role(session_user, ''quadrivel_admin'', ''USAGE''))'
                       ' WITH CHECK (pg_has_role(session_user, ''quadrivel_admin'', ''USAGE''))',
                       t);
    END LOOP;
END
$$;

-- A reader's login reads its own level, that level's links, the figures of
-- those agencies and its own mapping; nothing at all without a mapping.
DROP POLICY IF EXISTS quadrivel_lecteur ON data;
CREATE POLICY quadrivel_lecteur ON data FOR SELECT TO quadrivel_lecteur
    USING (dim_agence = ANY ((SELECT quadrivel_agences_connexion())::VARCHAR[]));
DROP POLICY IF EXISTS quadrivel_lecteur ON dim_niveau;
CREATE POLICY quadrivel_lecteur ON dim_niveau FOR SELECT TO quadrivel_lecteur
    USING (code = (SELECT quadrivel_code_connexion()));
DROP POLICY IF EXISTS quadrivel_lecteur ON niveau_agence;
CREATE POLICY quadrivel_lecteur ON niveau_agence FOR SELECT TO quadrivel_lecteur
    USING (niveau = (SELECT quadrivel_code_connexion()));
DROP POLICY IF EXISTS quadrivel_lecteur ON acces_utilisateur;
CREATE POLICY quadrivel_lecteur ON acces_utilisateur FOR SELECT TO quadrivel_lecteur
    USING (login = session_user);
