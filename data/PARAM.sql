-- Factory parameter database: table sysparam (one row per key, value = numbers separated by one blank)
-- and one region table per camera.
CREATE TABLE sysparam (name TEXT, value TEXT);
CREATE TABLE cammer0 (name TEXT, value TEXT);
CREATE TABLE cammer1 (name TEXT, value TEXT);
CREATE TABLE cammer2 (name TEXT, value TEXT);
CREATE TABLE cammer3 (name TEXT, value TEXT);
CREATE TABLE cammer4 (name TEXT, value TEXT);
CREATE TABLE cammer5 (name TEXT, value TEXT);
CREATE TABLE cammer6 (name TEXT, value TEXT);
CREATE TABLE cammer7 (name TEXT, value TEXT);
