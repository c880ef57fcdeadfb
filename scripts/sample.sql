-- The sample database of the demo: a handful of tables a real user would
-- have. Loaded once into a new database; needs MariaDB (SEQUENCE engine).

CREATE TABLE customers (
  id           INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name         VARCHAR(80)   NOT NULL,
  city         VARCHAR(60)   NULL,
  country      CHAR(2)       NOT NULL DEFAULT 'DE',
  vip          TINYINT(1)    NOT NULL DEFAULT 0,
  visits       SMALLINT      NULL,
  points       BIGINT        NULL,
  balance      DECIMAL(12,2) NULL,
  rating       FLOAT         NULL,
  born         DATE          NULL,
  signed_up    DATETIME      NOT NULL,
  call_at      TIME          NULL,
  notes        TEXT          NULL,
  photo        BLOB          NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT INTO customers (name, city, country, vip, visits, points, balance, rating, born, signed_up, call_at, notes, photo) VALUES
('Åsa Lindqvist',     'Göteborg',  'SE', 1,  12, 9000000001,  10472.90, 4.5,  '1984-03-02', '2020-01-01 02:11:47', '09:30:00', 'Prefers e-mail.', NULL),
('Jürgen Müller',     'München',   'DE', 0,   3,       1200,     -5.00, 3.25, '1971-11-30', '2021-06-15 14:00:00', NULL,       NULL, x'89504E470D0A1A0A'),
('Zoë Ødegård',       'Tromsø',    'NO', 0, NULL,      NULL,      0.00, NULL, NULL,         '2022-02-28 23:59:59', '18:00:00', 'Tab\there, quote '' and back\\slash', NULL),
('François Lefèvre',  'Besançon',  'FR', 1,  40,     505050,  99999.99, 5,    '1990-07-14', '2019-12-31 00:00:00', '12:15:30', 'Café owner ☕', NULL),
('Łukasz Żółć',       NULL,        'PL', 0,   1,          0,      NULL, 1.5,  '2000-02-29', '2023-03-01 08:00:00', NULL,       '', NULL),
('佐藤 花子',           '東京',       'JP', 0,   7,       7777,   1234.56, 4,    '1988-08-08', '2024-04-04 04:04:04', '07:45:00', 'Speaks Japanese and English.', NULL),
('Ana María Núñez',   'Sevilla',   'ES', 1,  25,      25000,    250.00, 4.75, '1979-05-05', '2020-10-10 10:10:10', '16:20:00', NULL, x'00FF00FF');

-- No key at all, with identical rows: a log as many shops keep it.
CREATE TABLE visit_log (
  customer  VARCHAR(80) NOT NULL,
  visited   DATE        NOT NULL,
  amount    DECIMAL(8,2) NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT INTO visit_log VALUES
('Åsa Lindqvist', '2024-01-05', 12.50),
('Åsa Lindqvist', '2024-01-05', 12.50),
('Jürgen Müller', '2024-01-06', NULL),
('Zoë Ødegård',   '2024-01-07', 3.20),
('Zoë Ødegård',   '2024-01-07', 3.20),
('Zoë Ødegård',   '2024-01-07', 3.20);

-- An empty table.
CREATE TABLE suppliers (
  id       INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  name     VARCHAR(80) NOT NULL,
  phone    VARCHAR(30) NULL,
  added    TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- About 100,000 rows.
CREATE TABLE orders (
  id          INT NOT NULL AUTO_INCREMENT PRIMARY KEY,
  customer_id INT UNSIGNED NOT NULL,
  ordered_at  DATETIME NOT NULL,
  total       DECIMAL(10,2) NOT NULL,
  status      VARCHAR(12) NOT NULL,
  comment     VARCHAR(100) NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

INSERT INTO orders (customer_id, ordered_at, total, status, comment)
SELECT 1 + seq % 7,
       TIMESTAMP('2020-01-01 00:00:00') + INTERVAL ((seq * 7907) % 157680000) SECOND,
       ((seq * 104729) % 1000000) / 100,
       ELT(1 + seq % 4, 'new', 'paid', 'shipped', 'returned'),
       IF(seq % 9 = 0, NULL, CONCAT('order ', seq))
FROM seq_1_to_100000;
