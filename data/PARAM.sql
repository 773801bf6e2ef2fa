-- Factory parameter database: table sysparam (one row per key, value = numbers separated by one blank)
-- and one region table per camera.
CREATE TABLE sysparam (name TEXT, value TEXT);
-- Factory settings: every row the parameter loader reads, in the order the save writes them.
INSERT INTO sysparam (name, value) VALUES ('trigInDelay', '5 5 5 5 5 5 5 5');
INSERT INTO sysparam (name, value) VALUES ('exposeTime', '30 30 30 30');
INSERT INTO sysparam (name, value) VALUES ('sharp', '0 0 0 0');
INSERT INTO sysparam (name, value) VALUES ('contrast', '50 50 50 50');
INSERT INTO sysparam (name, value) VALUES ('adjustPlus', '32 32 32 32');
INSERT INTO sysparam (name, value) VALUES ('numFailDetect', '0 2 0 0 0 0 0 0');
INSERT INTO sysparam (name, value) VALUES ('numAllDetect', '70 70 70 70 70 70 70 70');
INSERT INTO sysparam (name, value) VALUES ('isPswUsed', '0');
INSERT INTO sysparam (name, value) VALUES ('password', '');
INSERT INTO sysparam (name, value) VALUES ('system1', '0 0 0 -1 0 0 0 0 0');
INSERT INTO sysparam (name, value) VALUES ('system2', '0 10 3 100 5 5 0 0 0 0 0 0 0 0 8000 600 12 60');
INSERT INTO sysparam (name, value) VALUES ('system3', '0 0 0 1 1 1 1 0 300 0 0');
INSERT INTO sysparam (name, value) VALUES ('system4', '0 3 100');
INSERT INTO sysparam (name, value) VALUES ('system5', '30 30 32 32 0 0 50 50 0 0 0 0 0');
INSERT INTO sysparam (name, value) VALUES ('system6', '30 30 32 32 0 0 50 50 0 1 0 0');
INSERT INTO sysparam (name, value) VALUES ('system7', '0 0 0 0 0 0 1 0 0 0 0 0 1 0 1 1 1 1 0 0');
INSERT INTO sysparam (name, value) VALUES ('system8', '2 255 255 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0');
INSERT INTO sysparam (name, value) VALUES ('system9', '0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0');
INSERT INTO sysparam (name, value) VALUES ('system10', '0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 1 1 1');
INSERT INTO sysparam (name, value) VALUES ('system11', '0 0 0 0 0 0 0 0 100 100 100 100 100 100 100 100 1 1 1 1');
INSERT INTO sysparam (name, value) VALUES ('system12', '0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0');
CREATE TABLE cammer0 (name TEXT, value TEXT);
CREATE TABLE cammer1 (name TEXT, value TEXT);
CREATE TABLE cammer2 (name TEXT, value TEXT);
CREATE TABLE cammer3 (name TEXT, value TEXT);
CREATE TABLE cammer4 (name TEXT, value TEXT);
CREATE TABLE cammer5 (name TEXT, value TEXT);
CREATE TABLE cammer6 (name TEXT, value TEXT);
CREATE TABLE cammer7 (name TEXT, value TEXT);
