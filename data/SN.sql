-- Camera serial table: the serial text bound to each camera position, "0" for none.
CREATE TABLE sysparam (name TEXT, value TEXT);
INSERT INTO sysparam (name, value) VALUES ('serialNB0', '0');
INSERT INTO sysparam (name, value) VALUES ('serialNB1', '0');
INSERT INTO sysparam (name, value) VALUES ('serialNB2', '0');
INSERT INTO sysparam (name, value) VALUES ('serialNB3', '0');
INSERT INTO sysparam (name, value) VALUES ('serialNB4', '0');
INSERT INTO sysparam (name, value) VALUES ('serialNB5', '0');
INSERT INTO sysparam (name, value) VALUES ('serialNB6', '0');
INSERT INTO sysparam (name, value) VALUES ('serialNB7', '0');
